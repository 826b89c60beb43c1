#pragma once

#include <chrono>
#include <cstddef>

namespace darq::sim {

using Clock = std::chrono::steady_clock;

// One character (start bit, 8 data bits, 2 stop bits) on the wire at `baudRate`; zero for an
// unknown rate.
Clock::duration characterTime(int baudRate);

// How long the line must stay quiet before the bytes received so far count as one request: the
// character gap, but never less than a few milliseconds so that scheduling jitter on a busy
// machine does not split a request that was written in one piece.
Clock::duration quietGap(int baudRate);

// When the bytes of an answer go out. Byte i of the echo is due at `echoFirstDue` + i * spacing,
// byte i of the reply at `replyFirstDue` + i * spacing.
struct AnswerTiming {
    Clock::time_point echoFirstDue;
    Clock::time_point replyFirstDue;
    Clock::duration spacing{};
};

// On a real line the request arrives over its wire time, the instrument turns round, and each
// reply byte is complete one character time after the previous. A pseudo-terminal delivers the
// whole request at once, so the reply is timed from the arrival of the request's first byte;
// the last reply byte lands (request + reply) character times plus the turnaround after it.
// An echo repeats the request byte for byte as it was on the wire.
AnswerTiming pacedTiming(Clock::time_point requestStart, std::size_t requestLength, int baudRate,
                         std::chrono::milliseconds turnaround);

// Without pacing everything goes out at once.
AnswerTiming immediateTiming(Clock::time_point now);

} // namespace darq::sim
