#pragma once

#include <string>
#include <vector>

namespace darq::bench {

// One request and its reply as darq-read's --trace stamped them: the request just before it was
// written, the reply once it was taken (complete, or the wait over). Milliseconds, 1 ms
// resolution, on one clock that does not wrap at midnight.
struct TracedExchange {
    double sentMs = 0;
    double takenMs = 0;
};

// One darq-read run to its end.
struct DarqReadRun {
    std::string output;                 // its stdout
    std::vector<TracedExchange> traced; // from --trace, when it was given
    int exitStatus = -1;
    double cpuMs = 0;      // user and system time
    double lifetimeMs = 0; // spawn to end
    long peakResidentKiB = 0;
    std::string problem; // empty when it ran and ended by itself in time
};

// Runs darq-read with `arguments` (stderr, where --trace writes, goes to a file read afterwards);
// it is stopped when it has not ended after `deadlineMs`.
DarqReadRun runDarqRead(const std::vector<std::string>& arguments, int deadlineMs);

// darq-read's csv output: the header, then one record per reading.
class CsvOutput {
public:
    explicit CsvOutput(const std::string& text);

    int recordCount() const { return int(records_.size()); }
    // The field of that column in that record; empty when there is none.
    std::string field(int record, const std::string& column) const;
    int countWhere(const std::string& column, const std::string& value) const;

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> records_;
};

} // namespace darq::bench
