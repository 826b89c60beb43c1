#pragma once

#include "protocol/bytes.h"

#include <chrono>
#include <optional>

namespace darq {

// The quiet time that ends a reply once 17 bytes or more are in: the character gap, but never
// under 20 ms, because USB adapters hand bytes over in batches with pauses between.
std::chrono::microseconds replyGap(int baudRate);

// Collects the bytes of one reply and decides when it is complete, without sleeping a fixed
// time: complete when 17 bytes or more have arrived and then the line has been quiet for the gap,
// or when the timeout, counted from the end of the send, runs out. The caller supplies the times,
// so the rule works the same on a live port and in a test.
class ReplyCollector {
public:
    using Clock = std::chrono::steady_clock;

    ReplyCollector(std::chrono::microseconds gap, std::chrono::milliseconds timeout);

    // The request has left: the timeout and the latency count from here. Forgets earlier bytes.
    void start(Clock::time_point sendEnd);
    void add(const Bytes& bytes, Clock::time_point arrival);

    bool isComplete(Clock::time_point now) const;
    // When the reply will be complete if nothing more arrives.
    Clock::time_point completionTime() const;

    const Bytes& received() const { return received_; }
    Clock::time_point sendEnd() const { return sendEnd_; }
    // From the end of the send to the arrival of the last byte; none while nothing has arrived.
    std::optional<Clock::duration> latency() const;
    // Whether the timeout ended the reply while bytes were still coming: the last of them came
    // less than a gap before it. A short reply was then cut off, not wrong.
    bool endedWhileArriving() const;

private:
    std::chrono::microseconds gap_;
    std::chrono::milliseconds timeout_;
    Clock::time_point sendEnd_;
    Clock::time_point lastArrival_;
    Bytes received_;
};

} // namespace darq
