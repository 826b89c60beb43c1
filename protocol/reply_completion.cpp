#include "protocol/reply_completion.h"

#include "protocol/line_timing.h"
#include "protocol/reply.h"

#include <algorithm>

namespace darq {

namespace {
constexpr std::chrono::microseconds kShortestGap{20000};
} // namespace

std::chrono::microseconds replyGap(int baudRate) {
    return std::max(characterGap(baudRate), kShortestGap);
}

ReplyCollector::ReplyCollector(ReplyWait wait, std::chrono::microseconds gap,
                               std::chrono::milliseconds timeout)
    : wait_(wait), gap_(gap), timeout_(timeout) {}

void ReplyCollector::start(Clock::time_point sendEnd) {
    sendEnd_ = sendEnd;
    lastArrival_ = sendEnd;
    received_.clear();
}

void ReplyCollector::add(const Bytes& bytes, Clock::time_point arrival) {
    if (bytes.empty()) {
        return;
    }
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    lastArrival_ = arrival;
}

bool ReplyCollector::isComplete(Clock::time_point now) const {
    return now >= completionTime();
}

ReplyCollector::Clock::time_point ReplyCollector::completionTime() const {
    const Clock::time_point timeoutEnd = sendEnd_ + timeout_;
    if (wait_ == ReplyWait::SettleTime || received_.size() < kReplyLength) {
        return timeoutEnd;
    }
    return std::min(lastArrival_ + gap_, timeoutEnd);
}

bool ReplyCollector::endedWhileArriving() const {
    return !received_.empty() && lastArrival_ + gap_ > sendEnd_ + timeout_;
}

std::optional<ReplyCollector::Clock::duration> ReplyCollector::latency() const {
    if (received_.empty()) {
        return std::nullopt;
    }
    return lastArrival_ - sendEnd_;
}

} // namespace darq
