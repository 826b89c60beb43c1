#pragma once

#include "protocol/bytes.h"
#include "sim/pacing.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace darq::sim {

// Bytes waiting for the moment they are due on the line, in the order they were scheduled.
class TransmitQueue {
public:
    // Byte i is due at `firstDue` + i * `spacing`, but never before a byte scheduled earlier,
    // so that an answer queued while another is still going out follows it.
    void schedule(const Bytes& bytes, Clock::time_point firstDue, Clock::duration spacing);

    // Removes and returns every byte due at `now`.
    Bytes takeDue(Clock::time_point now);

    std::optional<Clock::time_point> nextDue() const;

private:
    struct Entry {
        Clock::time_point due;
        std::uint8_t byte;
    };
    std::deque<Entry> entries_;
    std::optional<Clock::time_point> lastDue_;
};

} // namespace darq::sim
