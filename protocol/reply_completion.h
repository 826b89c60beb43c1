#pragma once

#include "protocol/bytes.h"

#include <chrono>
#include <optional>

namespace darq {

// The quiet time that ends a reply once 17 bytes or more are in: the character gap, but never
// under 20 ms, because USB adapters hand bytes over in batches with pauses between.
std::chrono::microseconds replyGap(int baudRate);

// How long a read waits for its reply.
enum class ReplyWait {
    // The window's fixed settle time: whatever has come when the timeout runs out is the reply.
    SettleTime,
    // Complete once 17 bytes or more have arrived and then the line has been quiet for the gap,
    // at the latest when the timeout runs out: a reader polling many addresses or searching the
    // line must not wait out a fixed time where the instrument has long answered.
    CompleteReply,
};

// Collects the bytes of one reply and decides, by its ReplyWait, when it is complete; the timeout
// counts from the end of the send. The caller supplies the times, so the rule works the same on a
// live port, in the bench and in a test.
class ReplyCollector {
public:
    using Clock = std::chrono::steady_clock;

    ReplyCollector(ReplyWait wait, std::chrono::microseconds gap,
                   std::chrono::milliseconds timeout);

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
    ReplyWait wait_;
    std::chrono::microseconds gap_;
    std::chrono::milliseconds timeout_;
    Clock::time_point sendEnd_;
    Clock::time_point lastArrival_;
    Bytes received_;
};

} // namespace darq
