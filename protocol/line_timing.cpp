#include "protocol/line_timing.h"

#include "protocol/read_request.h"
#include "protocol/reply.h"

#include <algorithm>
#include <cmath>

namespace darq {

namespace {
constexpr int kMinimumSettleMs = 100;
constexpr double kGapCharacters = 3.5;
} // namespace

double wireTimeMs(std::size_t byteCount, int baudRate) {
    if (baudRate <= 0) {
        return 0.0;
    }
    return 1000.0 * static_cast<double>(byteCount) * kBitsPerByte / baudRate;
}

std::chrono::microseconds characterGap(int baudRate) {
    return std::chrono::microseconds{
        static_cast<long long>(std::ceil(kGapCharacters * wireTimeMs(1, baudRate) * 1000.0))};
}

int attemptBudgetMs(int baudRate) {
    return static_cast<int>(std::ceil(wireTimeMs(kRequestLength + kReplyLength, baudRate))) +
           kTurnaroundAllowanceMs;
}

int settleTimeMs(int baudRate) {
    return std::max(kMinimumSettleMs, attemptBudgetMs(baudRate));
}

} // namespace darq
