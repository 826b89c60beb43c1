#include "read_latency.h"

#include "child_process.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace darq::bench {

namespace {

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
// and its direction; none for the other lines (the summary).
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
std::vector<double> replyTakenTimes(const std::string& tracePath) {
    constexpr double kDayMs = 24 * 3600 * 1000.0;
    std::vector<double> taken;
    std::ifstream trace(tracePath);
    std::string line;
    double sentAt = 0;
    bool awaitingReply = false;
    while (std::getline(trace, line)) {
        const auto event = traceEvent(line);
        if (!event) {
            continue;
        }
        if (event->second == '>') {
            sentAt = event->first;
            awaitingReply = true;
        } else if (awaitingReply) {
            const double span = event->first - sentAt;
            taken.push_back(span < 0 ? span + kDayMs : span);
            awaitingReply = false;
        }
    }
    return taken;
}

int columnOf(const std::vector<std::string>& header, const std::string& name) {
    const auto found = std::find(header.begin(), header.end(), name);
    return found == header.end() ? -1 : int(found - header.begin());
}

} // namespace

ReadLatency measureReadLatency(const std::string& device, int baud, int count, int intervalMs) {
    ReadLatency result;
    QTemporaryDir traceDirectory;
    ChildProcess::Options options;
    options.stderrPath = traceDirectory.filePath(QStringLiteral("trace.txt")).toStdString();
    ChildProcess reader(DARQ_READ_PATH,
                        {"--port", device, "--baud", std::to_string(baud), "--count",
                         std::to_string(count), "--interval", std::to_string(intervalMs),
                         "--format", "csv", "--trace"},
                        options);
    const int deadlineMs = count * std::max(intervalMs, 1000) + 10000;
    const std::optional<std::string> output = reader.readToEnd(deadlineMs);
    std::optional<ChildProcess::Ending> ending = reader.wait(5000);
    if (!ending) {
        ending = reader.stop();
    }
    if (!output) {
        result.problem = "darq-read did not finish in time";
        return result;
    }
    result.exitStatus = ending ? ending->exitStatus : -1;
    result.peakResidentKiB = reader.peakResidentKiB();
    result.takenMs = replyTakenTimes(options.stderrPath);

    std::stringstream lines(*output);
    std::string line;
    std::getline(lines, line);
    const std::vector<std::string> header = csvFields(line);
    const int outcomeColumn = columnOf(header, "outcome");
    const int latencyColumn = columnOf(header, "latency_ms");
    if (outcomeColumn < 0 || latencyColumn < 0) {
        result.problem = "darq-read printed no csv header with outcome and latency_ms: " + line;
        return result;
    }
    while (std::getline(lines, line)) {
        const std::vector<std::string> fields = csvFields(line);
        if (int(fields.size()) != int(header.size())) {
            continue;
        }
        ++result.readings;
        if (fields[std::size_t(outcomeColumn)] == "decoded") {
            ++result.decoded;
        }
        if (!fields[std::size_t(latencyColumn)].empty()) {
            result.latenciesMs.push_back(std::stod(fields[std::size_t(latencyColumn)]));
        }
    }
    if (result.exitStatus > 1) {
        result.problem = "darq-read ended with status " + std::to_string(result.exitStatus);
    } else if (result.readings != count) {
        result.problem = "darq-read gave " + std::to_string(result.readings) + " readings of " +
                         std::to_string(count);
    }
    return result;
}

} // namespace darq::bench
