#include "sim/instrument_values.h"

#include <cmath>

namespace darq::sim {

namespace {

constexpr std::uint8_t kFlowDecimals = 2;
constexpr std::uint8_t kTotalDecimals = 3;

// The flow ramps up and down between 8.00 and 16.00 over 40 s, starting at 12.00 going up.
constexpr double kCentreFlow = 1200.0;
constexpr double kFlowSwing = 400.0;
constexpr double kPeriodSeconds = 40.0;

// The low part of the total holds eight digits; the high part counts what lies above them.
constexpr std::int64_t kLowPartLimit = 100000000;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

InstrumentValues InstrumentValues::fixed(const Reading& reading) {
    InstrumentValues values;
    values.fixed_ = reading;
    return values;
}

InstrumentValues InstrumentValues::varying(Clock::time_point start) {
    InstrumentValues values;
    values.start_ = start;
    values.last_ = start;
    return values;
}

double InstrumentValues::flowHundredthsAt(double seconds) {
    const double quarter = kPeriodSeconds / 4.0;
    const double slope = kFlowSwing / quarter;
    const double phase = std::fmod(seconds, kPeriodSeconds);
    if (phase < quarter) {
        return kCentreFlow + slope * phase;
    }
    if (phase < 3.0 * quarter) {
        return kCentreFlow + kFlowSwing - slope * (phase - quarter);
    }
    return kCentreFlow - kFlowSwing + slope * (phase - 3.0 * quarter);
}

Reading InstrumentValues::readingAt(Clock::time_point now) {
    if (fixed_) {
        return *fixed_;
    }
    if (now > last_) {
        const double from = secondsBetween(start_, last_);
        const double to = secondsBetween(start_, now);
        const double meanFlow = (flowHundredthsAt(from) + flowHundredthsAt(to)) / 2.0;
        // Hundredths of a unit a minute make 10 / 60 thousandths of a unit a second.
        totalThousandths_ += meanFlow * (to - from) * 10.0 / 60.0;
        last_ = now;
    }
    const auto total = static_cast<std::int64_t>(totalThousandths_);
    Reading reading;
    reading.flow =
        static_cast<std::int32_t>(std::lround(flowHundredthsAt(secondsBetween(start_, last_))));
    reading.flowDecimals = kFlowDecimals;
    reading.totalHigh = static_cast<std::uint16_t>(total / kLowPartLimit);
    reading.totalLow = static_cast<std::int32_t>(total % kLowPartLimit);
    reading.totalDecimals = kTotalDecimals;
    return reading;
}

} // namespace darq::sim
