#include "sim/request_framer.h"

#include <utility>

namespace darq::sim {

void RequestFramer::receive(const Bytes& bytes, Clock::time_point now) {
    if (bytes.empty()) {
        return;
    }
    if (pending_.empty()) {
        firstByteAt_ = now;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    lastByteAt_ = now;
}

std::optional<Clock::time_point> RequestFramer::frameEnd(Clock::duration quietGap) const {
    if (pending_.empty()) {
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
    ReceivedFrame frame{std::move(pending_), firstByteAt_};
    pending_.clear();
    return frame;
}

} // namespace darq::sim
