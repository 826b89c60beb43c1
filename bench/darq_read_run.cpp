#include "darq_read_run.h"

#include "common/child_process.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace darq::bench {

namespace {

constexpr double kDayMs = 24 * 3600 * 1000.0;

std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == ',') {
        fields.emplace_back();
    }
    return fields;
}

// Milliseconds into the day of a trace line's time stamp, "2024-05-01T08:30:00.125Z > 01 03 ...",
// and its direction; none for the other lines (late bytes dropped, the summary).
std::optional<std::pair<double, char>> traceEvent(const std::string& line) {
    int hours = 0;
    int minutes = 0;
    double seconds = 0;
    char direction = 0;
    if (line.size() < 26 || line[23] != 'Z' ||
        std::sscanf(line.c_str() + 11, "%d:%d:%lfZ %c", &hours, &minutes, &seconds, &direction) !=
            4 ||
        (direction != '>' && direction != '<')) {
        return std::nullopt;
    }
    return std::make_pair(((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0, direction);
}

// Each reply taken paired with the request before it.
std::vector<TracedExchange> tracedExchanges(const std::string& tracePath) {
    std::vector<TracedExchange> exchanges;
    std::ifstream trace(tracePath);
    std::string line;
    double sentAt = 0;
    bool awaitingReply = false;
    double previous = 0;
    double dayOffset = 0;
    while (std::getline(trace, line)) {
        const auto event = traceEvent(line);
        if (!event) {
            continue;
        }
        // A run across midnight goes on counting from the day before.
        if (event->first + dayOffset < previous - kDayMs / 2) {
            dayOffset += kDayMs;
        }
        const double at = event->first + dayOffset;
        previous = at;
        if (event->second == '>') {
            sentAt = at;
            awaitingReply = true;
        } else if (awaitingReply) {
            exchanges.push_back({sentAt, at});
            awaitingReply = false;
        }
    }
    return exchanges;
}

} // namespace

DarqReadRun runDarqRead(const std::vector<std::string>& arguments, int deadlineMs) {
    DarqReadRun result;
    QTemporaryDir traceDirectory;
    ChildProcess::Options options;
    options.stderrPath = traceDirectory.filePath(QStringLiteral("stderr.txt")).toStdString();
    ChildProcess reader(DARQ_READ_PATH, arguments, options);
    const std::optional<std::string> output = reader.readToEnd(deadlineMs);
    std::optional<ChildProcess::Ending> ending = reader.wait(5000);
    if (!output || !ending) {
        reader.stop();
        result.problem = "darq-read did not finish in time";
        return result;
    }
    result.output = *output;
    result.exitStatus = ending->exitStatus;
    result.cpuMs = ending->cpuMs;
    result.lifetimeMs = ending->lifetimeMs;
    result.peakResidentKiB = reader.peakResidentKiB();
    result.traced = tracedExchanges(options.stderrPath);
    if (result.exitStatus < 0 || result.exitStatus > 1) {
        result.problem = "darq-read ended with status " + std::to_string(result.exitStatus);
    }
    return result;
}

CsvOutput::CsvOutput(const std::string& text) {
    std::stringstream lines(text);
    std::string line;
    std::getline(lines, line);
    header_ = csvFields(line);
    while (std::getline(lines, line)) {
        std::vector<std::string> fields = csvFields(line);
        if (fields.size() == header_.size()) {
            records_.push_back(std::move(fields));
        }
    }
}

std::string CsvOutput::field(int record, const std::string& column) const {
    const auto found = std::find(header_.begin(), header_.end(), column);
    if (found == header_.end() || record < 0 || record >= recordCount()) {
        return {};
    }
    return records_[std::size_t(record)][std::size_t(found - header_.begin())];
}

int CsvOutput::countWhere(const std::string& column, const std::string& value) const {
    int count = 0;
    for (int record = 0; record < recordCount(); ++record) {
        count += field(record, column) == value ? 1 : 0;
    }
    return count;
}

} // namespace darq::bench
