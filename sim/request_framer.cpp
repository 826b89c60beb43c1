#include "sim/request_framer.h"

#include <algorithm>
#include <utility>

namespace darq::sim {

void RequestFramer::receive(const Bytes& bytes, Clock::time_point now) {
    if (bytes.empty()) {
        return;
    }
    if (pendingLength_ == 0) {
        firstByteAt_ = now;
    }
    const std::size_t room = kMostKeptFrameBytes - pending_.size();
    pending_.insert(pending_.end(), bytes.begin(),
                    bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
    pendingLength_ += bytes.size();
    lastByteAt_ = now;
}

std::optional<Clock::time_point> RequestFramer::frameEnd(Clock::duration quietGap) const {
    if (pendingLength_ == 0) {
        return std::nullopt;
    }
    return lastByteAt_ + quietGap;
}

std::optional<ReceivedFrame> RequestFramer::takeCompleteFrame(Clock::time_point now,
                                                              Clock::duration quietGap) {
    const auto end = frameEnd(quietGap);
    if (!end || now < *end) {
        return std::nullopt;
    }
    ReceivedFrame frame{std::move(pending_), firstByteAt_, pendingLength_};
    pending_.clear();
    pendingLength_ = 0;
    return frame;
}

} // namespace darq::sim
