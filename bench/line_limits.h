#pragma once

#include "protocol/line_timing.h"
#include "protocol/read_request.h"
#include "protocol/reply.h"

namespace darq::bench {

inline constexpr int kRates[] = {1200, 2400, 4800, 9600};
// darq-sim's turnaround wherever the bench paces it, as a quick instrument would answer.
inline constexpr int kTurnaroundMs = 5;

// Request and reply on the wire plus the simulator's turnaround: nothing can answer faster.
inline double wireLimitMs(int baud) {
    return wireTimeMs(kRequestLength + kReplyLength, baud) + kTurnaroundMs;
}

} // namespace darq::bench
