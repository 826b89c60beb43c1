#pragma once

#include "protocol/bytes.h"
#include "sim/pacing.h"

#include <optional>

namespace darq::sim {

struct ReceivedFrame {
    Bytes bytes;
    Clock::time_point firstByteAt;
};

// Cuts the incoming byte stream into frames the way a bus device does: a frame is everything that
// arrives until the line has been quiet for the quiet gap.
class RequestFramer {
public:
    void receive(const Bytes& bytes, Clock::time_point now);

    // When the pending frame is complete if nothing more arrives; none when nothing is pending.
    std::optional<Clock::time_point> frameEnd(Clock::duration quietGap) const;

    // The pending frame, once the line has been quiet long enough.
    std::optional<ReceivedFrame> takeCompleteFrame(Clock::time_point now, Clock::duration quietGap);

private:
    Bytes pending_;
    Clock::time_point firstByteAt_;
    Clock::time_point lastByteAt_;
};

} // namespace darq::sim
