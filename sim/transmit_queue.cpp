#include "sim/transmit_queue.h"

#include <algorithm>

namespace darq::sim {

void TransmitQueue::schedule(const Bytes& bytes, Clock::time_point firstDue,
                             Clock::duration spacing) {
    Clock::time_point due = firstDue;
    for (const std::uint8_t byte : bytes) {
        if (lastDue_) {
            due = std::max(due, *lastDue_ + spacing);
        }
        entries_.push_back({due, byte});
        lastDue_ = due;
        due += spacing;
    }
}

Bytes TransmitQueue::takeDue(Clock::time_point now) {
    Bytes due;
    while (!entries_.empty() && entries_.front().due <= now) {
        due.push_back(entries_.front().byte);
        entries_.pop_front();
    }
    return due;
}

std::optional<Clock::time_point> TransmitQueue::nextDue() const {
    if (entries_.empty()) {
        return std::nullopt;
    }
    return entries_.front().due;
}

} // namespace darq::sim
