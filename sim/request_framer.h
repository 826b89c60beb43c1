#pragma once

#include "protocol/bytes.h"
#include "sim/pacing.h"

#include <optional>

namespace darq::sim {

// A frame keeps at most this many of its bytes: a read request has 8, and a tool flooding the line
// without a pause must not grow the instrument's memory or its log without limit.
constexpr std::size_t kMostKeptFrameBytes = 64;

struct ReceivedFrame {
    Bytes bytes; // the first kMostKeptFrameBytes at most
    Clock::time_point firstByteAt;
    std::size_t length = 0; // every byte of the frame, kept or not
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
    std::size_t pendingLength_ = 0;
    Clock::time_point firstByteAt_;
    Clock::time_point lastByteAt_;
};

} // namespace darq::sim
