#include "sim/pacing.h"

#include "protocol/line_timing.h"

#include <algorithm>

namespace darq::sim {

namespace {

constexpr std::chrono::milliseconds kShortestQuietGap{5};

Clock::duration wireTime(std::size_t byteCount, int baudRate) {
    // Rounded up: the reply must never arrive earlier than the real line could carry it.
    return std::chrono::ceil<Clock::duration>(
        std::chrono::duration<double, std::milli>(wireTimeMs(byteCount, baudRate)));
}

} // namespace

Clock::duration characterTime(int baudRate) {
    return wireTime(1, baudRate);
}

Clock::duration quietGap(int baudRate) {
    return std::max<Clock::duration>(characterGap(baudRate), kShortestQuietGap);
}

AnswerTiming pacedTiming(Clock::time_point requestStart, std::size_t requestLength, int baudRate,
                         std::chrono::milliseconds turnaround) {
    const Clock::duration character = characterTime(baudRate);
    AnswerTiming timing;
    timing.spacing = character;
    timing.echoFirstDue = requestStart + character;
    timing.replyFirstDue =
        requestStart + wireTime(requestLength, baudRate) + turnaround + character;
    return timing;
}

AnswerTiming immediateTiming(Clock::time_point now) {
    AnswerTiming timing;
    timing.echoFirstDue = now;
    timing.replyFirstDue = now;
    return timing;
}

} // namespace darq::sim
