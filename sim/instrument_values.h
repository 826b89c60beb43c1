#pragma once

#include "protocol/reply.h"
#include "sim/pacing.h"

#include <optional>

namespace darq::sim {

// The numbers the instrument reports: either fixed, or a flow that wanders over time with a
// total that accumulates it, so that successive readings differ as on a running pipe.
class InstrumentValues {
public:
    static InstrumentValues fixed(const Reading& reading);
    static InstrumentValues varying(Clock::time_point start);

    // The reading at `now`. Calls must come in time order; the total only ever grows.
    Reading readingAt(Clock::time_point now);

    // The flow of the varying values, in hundredths of a unit a minute, `seconds` after start.
    static double flowHundredthsAt(double seconds);

private:
    std::optional<Reading> fixed_;
    Clock::time_point start_;
    Clock::time_point last_;
    double totalThousandths_ = 0.0;
};

} // namespace darq::sim
