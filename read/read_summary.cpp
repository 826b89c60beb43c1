#include "read/read_summary.h"

#include <algorithm>

namespace darq {

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

} // namespace

void ReadSummary::add(const ReadingRecord& record) {
    ++reads_;
    switch (record.outcome.kind) {
    case ReadOutcome::Kind::Decoded:
        ++decoded_;
        if (!record.outcome.checkValueOk) {
            ++badCheckValue_;
        }
        if (record.latencyMs) {
            decodedLatenciesMs_.push_back(*record.latencyMs);
        }
        break;
    case ReadOutcome::Kind::NoData:
        ++noData_;
        break;
    case ReadOutcome::Kind::Ignored:
        ++ignored_;
        break;
    }
}

int ReadSummary::exitStatus() const {
    return reads_ > 0 && noData_ + ignored_ == 0 ? kExitAllDecoded : kExitSomeNotDecoded;
}

std::string ReadSummary::line() const {
    std::string text = "reads " + std::to_string(reads_) + "  decoded " + std::to_string(decoded_) +
                       "  no data " + std::to_string(noData_) + "  ignored " +
                       std::to_string(ignored_) + "  bad CRC " + std::to_string(badCheckValue_) +
                       "  latency ms ";
    if (decodedLatenciesMs_.empty()) {
        return text + "-";
    }
    const auto [lowest, highest] =
        std::minmax_element(decodedLatenciesMs_.begin(), decodedLatenciesMs_.end());
    return text + "min " + oneDecimal(*lowest) + "  median " +
           oneDecimal(median(decodedLatenciesMs_)) + "  max " + oneDecimal(*highest);
}

} // namespace darq
