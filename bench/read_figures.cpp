#include "figures.h"

#include "darq_read_run.h"
#include "line_limits.h"
#include "simulator.h"
#include "statistics.h"

#include <algorithm>

namespace darq::bench {

namespace {

constexpr int kLatencyReads = 50;
constexpr int kCpuReads = 1000;
constexpr double kReadCpuTargetMs = 0.5;
// Long enough for an unpaced reply to end by its quiet gap (20 ms) rather than by the wait.
constexpr int kUnpacedTimeoutMs = 100;

double readTargetMs(int baud) {
    return 1.2 * wireLimitMs(baud) + 25.0;
}

std::vector<double> latencies(const CsvOutput& csv) {
    std::vector<double> samples;
    for (int record = 0; record < csv.recordCount(); ++record) {
        const std::string latency = csv.field(record, "latency_ms");
        if (!latency.empty()) {
            samples.push_back(std::stod(latency));
        }
    }
    return samples;
}

std::vector<double> sentToTaken(const std::vector<TracedExchange>& traced) {
    std::vector<double> spans;
    for (const TracedExchange& exchange : traced) {
        spans.push_back(exchange.takenMs - exchange.sentMs);
    }
    return spans;
}

} // namespace

void addReadLatencies(RunRows& rows, const Progress& progress) {
    Simulator simulator(pacedSimulatorArguments());
    long peakKiB = 0;
    const std::string reads = std::to_string(kLatencyReads);
    for (const int baud : kRates) {
        const std::string rate = std::to_string(baud);
        progress.say("darq-read, " + reads + " reads at " + rate + " baud");
        const DarqReadRun run =
            runDarqRead({"--port", simulator.device(), "--baud", rate, "--count", reads,
                         "--interval", "0", "--format", "csv", "--trace"},
                        kLatencyReads * 1000 + 10000);
        peakKiB = std::max(peakKiB, run.peakResidentKiB);
        const CsvOutput csv(run.output);
        const int decoded = csv.countWhere("outcome", "decoded");
        const bool sound = run.problem.empty() && decoded == kLatencyReads;
        const std::vector<double> latency = latencies(csv);
        const std::vector<double> taken = sentToTaken(run.traced);
        const Target target = Target::atMost(readTargetMs(baud));
        const std::string figure = "darq-read latency_ms, " + reads + " reads";
        rows.add(figure, rate, "p95", ifAny(latency, p95), Unit::Milliseconds)
            .judge(target, sound)
            .withNote(run.problem.empty() ? fraction(decoded, kLatencyReads) + " decoded"
                                          : run.problem);
        rows.add(figure, rate, "worst", ifAny(latency, worst), Unit::Milliseconds);
        const std::string sameReads = "  same reads, sent to taken (trace)";
        rows.add(sameReads, rate, "p95", ifAny(taken, p95), Unit::Milliseconds)
            .judge(target, sound && int(taken.size()) == decoded);
        rows.add(sameReads, rate, "worst", ifAny(taken, worst), Unit::Milliseconds);
    }
    rows.add("Peak RSS, darq-read " + reads + " reads (VmHWM)", "", "peak",
             double(peakKiB) / 1024.0, Unit::MiB);
}

void addReadCpu(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing", "--turnaround", "0"});
    const std::string timeout = std::to_string(kUnpacedTimeoutMs);
    progress.say("darq-read CPU, 1 reading, then " + std::to_string(kCpuReads) +
                 " readings without pacing");
    const DarqReadRun single =
        runDarqRead({"--port", simulator.device(), "--timeout", timeout, "--format", "csv"}, 10000);
    const DarqReadRun run =
        runDarqRead({"--port", simulator.device(), "--count", std::to_string(kCpuReads),
                     "--interval", "0", "--timeout", timeout, "--format", "csv"},
                    kCpuReads * 200);
    const int decoded = CsvOutput(run.output).countWhere("outcome", "decoded");
    const std::string figure =
        "darq-read CPU (user+sys), " + std::to_string(kCpuReads) + " reads, no pacing";
    rows.add(figure, "9600", "per reading",
             run.problem.empty() ? std::optional<double>(run.cpuMs / kCpuReads) : std::nullopt,
             Unit::CpuMilliseconds)
        .judge(Target::below(kReadCpuTargetMs), run.problem.empty() && decoded == kCpuReads)
        .withNote(run.problem.empty() ? fraction(decoded, kCpuReads) + " decoded" : run.problem);
    rows.add(figure, "9600", "a run of 1 reading",
             single.problem.empty() ? std::optional<double>(single.cpuMs) : std::nullopt,
             Unit::CpuMilliseconds)
        .withNote(single.problem);
}

} // namespace darq::bench
