#include "protocol/line_timing.h"

#include "protocol/read_request.h"
#include "protocol/reply.h"

#include <algorithm>
#include <cmath>

namespace darq {

namespace {
constexpr int kMinimumSettleMs = 100;
constexpr int kTurnaroundAllowanceMs = 50;
} // namespace

double wireTimeMs(std::size_t byteCount, int baudRate) {
    if (baudRate <= 0) {
        return 0.0;
    }
    return 1000.0 * static_cast<double>(byteCount) * kBitsPerByte / baudRate;
}

int settleTimeMs(int baudRate) {
    const double exchangeMs = wireTimeMs(kRequestLength + kReplyLength, baudRate);
    const int needed = static_cast<int>(std::ceil(exchangeMs)) + kTurnaroundAllowanceMs;
    return std::max(kMinimumSettleMs, needed);
}

} // namespace darq
