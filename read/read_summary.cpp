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
    using Finding = ReadOutcome::Finding;
    ++reads_;
    if (record.status == ReadingRecord::Status::PortLost) {
        ++portLost_;
        return;
    }
    switch (record.outcome.finding) {
    case Finding::Clean:
        ++decoded_;
        if (record.latencyMs) {
            decodedLatenciesMs_.push_back(*record.latencyMs);
        }
        break;
    case Finding::BadCheckValue:
        ++badCheckValue_;
        break;
    case Finding::WrongHeader:
        ++wrongHeader_;
        break;
    case Finding::Silence:
    case Finding::EchoOnly:
        ++noData_;
        break;
    case Finding::Exception:
    case Finding::CutOff:
    case Finding::WrongLength:
        ++ignored_;
        break;
    }
}

int ReadSummary::exitStatus() const {
    return reads_ > 0 && decoded_ == reads_ ? kExitSuccess : kExitWithoutData;
}

std::string ReadSummary::line() const {
    std::string text = "reads " + std::to_string(reads_) + "  decoded " + std::to_string(decoded_) +
                       "  no data " + std::to_string(noData_) + "  ignored " +
                       std::to_string(ignored_) + "  bad CRC " + std::to_string(badCheckValue_) +
                       "  wrong header " + std::to_string(wrongHeader_) + "  port lost " +
                       std::to_string(portLost_) + "  latency ms ";
    if (decodedLatenciesMs_.empty()) {
        return text + "-";
    }
    const auto [lowest, highest] =
        std::minmax_element(decodedLatenciesMs_.begin(), decodedLatenciesMs_.end());
    return text + "min " + oneDecimal(*lowest) + "  median " +
           oneDecimal(median(decodedLatenciesMs_)) + "  max " + oneDecimal(*highest);
}

} // namespace darq
