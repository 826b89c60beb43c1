#pragma once

#include "common/exit_status.h"
#include "protocol/reading_record.h"

#include <string>
#include <vector>

namespace darq {

// Counts the readings of one run and gives its summary line and exit status.
class ReadSummary {
public:
    void add(const ReadingRecord& record);

    int reads() const { return reads_; }
    // 0 when every read gave this instrument's intact reading, 1 when any did not (no data,
    // ignored, a bad check value, another instrument's header), and 1 when the run was
    // interrupted before a reading came: a script must not take an empty run for a good one.
    int exitStatus() const;
    // "reads 3  decoded 2  no data 1  ignored 0  bad CRC 0  wrong header 0  port lost 0  latency
    // ms min 33.9  median 34.1  max 35.0", the latency taken over the decoded readings.
    std::string line() const;

private:
    int reads_ = 0;
    int decoded_ = 0;
    int noData_ = 0;
    int ignored_ = 0;
    int badCheckValue_ = 0;
    int wrongHeader_ = 0;
    int portLost_ = 0;
    std::vector<double> decodedLatenciesMs_;
};

} // namespace darq
