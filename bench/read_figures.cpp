#include "figures.h"

#include "bare_exchange.h"
#include "common/child_process.h"
#include "darq_read_run.h"
#include "line_limits.h"
#include "simulator.h"
#include "statistics.h"

#include "serial/instrument_search.h"

#include <algorithm>
#include <set>

namespace darq::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLatencyReads = 50;
constexpr int kCpuReads = 1000;
constexpr double kReadCpuTargetMs = 0.5;
// Long enough for an unpaced reply to end by its quiet gap (20 ms) rather than by the wait.
constexpr int kUnpacedTimeoutMs = 100;
constexpr int kBusCycles = 3;
constexpr int kBusAddresses = 32;
constexpr const char* kBusInstruments = "1,5,9-14";
constexpr int kBusInstrumentCount = 8;
constexpr double kBusTargetRatio = 1.15;
constexpr const char* kSweepAddresses = "2-33";
constexpr int kSweepAddressCount = 32;
constexpr double kSweepTargetRatio = 1.1;
constexpr int kFindAddresses[] = {1, 128};
constexpr int kFullScanAllowanceMs = 200000;

// What darq-read --scan does without --timeout: its rates in order.
const SearchPlan kDefaultSearch;

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

// A poll that nobody answers costs, on a wire, the request and the reply it waited for plus the
// allowance for an instrument to turn round: the same wait a search makes at each address.
double unansweredBoundMs(int baud) {
    return wireTimeMs(kRequestLength + kReplyLength, baud) + kTurnaroundAllowanceMs;
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

void addNetworkReads(RunRows& rows, const Progress& progress) {
    const std::string reads = std::to_string(kLatencyReads);
    progress.say("darq-read, " + reads + " reads over a pseudo-terminal, then over loopback TCP");
    Simulator pty(pacedSimulatorArguments());
    Simulator server(pacedSimulatorArguments({"--listen", "127.0.0.1:0"}));
    std::optional<double> medians[2];
    for (const Simulator* simulator : {&pty, &server}) {
        const bool network = simulator == &server;
        const DarqReadRun run = runDarqRead({"--port", simulator->device(), "--count", reads,
                                             "--interval", "0", "--format", "csv"},
                                            kLatencyReads * 1000 + 10000);
        const CsvOutput csv(run.output);
        const int decoded = csv.countWhere("outcome", "decoded");
        const std::vector<double> latency = latencies(csv);
        const std::string figure = network ? "  same reads over loopback TCP (darq-sim --listen)"
                                           : "darq-read latency_ms, " + reads + " reads, pty";
        medians[network] = ifAny(latency, median);
        rows.add(figure, "9600", "median", medians[network], Unit::Milliseconds)
            .withNote(run.problem.empty() ? fraction(decoded, kLatencyReads) + " decoded"
                                          : run.problem);
        rows.add(figure, "9600", "p95", ifAny(latency, p95), Unit::Milliseconds);
    }
    rows.add("  TCP over pty", "9600", "median difference",
             medians[0] && medians[1] ? std::optional<double>(*medians[1] - *medians[0])
                                      : std::nullopt,
             Unit::Milliseconds);
}

void addReadCpu(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing", "--turnaround", "0"});
    const std::string timeout = std::to_string(kUnpacedTimeoutMs);
    progress.say("darq-read CPU, 1 reading, then " + std::to_string(kCpuReads) +
                 " readings without pacing between two halves of bare exchanges");
    const DarqReadRun single =
        runDarqRead({"--port", simulator.device(), "--timeout", timeout, "--format", "csv"}, 10000);
    DarqReadRun run;
    const BareExchanges bare = bareExchangesAround(simulator.device(), kBareExchangeCount, [&] {
        run = runDarqRead({"--port", simulator.device(), "--count", std::to_string(kCpuReads),
                           "--interval", "0", "--timeout", timeout, "--format", "csv"},
                          kCpuReads * 200);
    });
    const int decoded = CsvOutput(run.output).countWhere("outcome", "decoded");
    const std::string figure =
        "darq-read CPU (user+sys), " + std::to_string(kCpuReads) + " reads, no pacing";
    addCpuAboveBareExchange(
        rows, figure, "per reading",
        run.problem.empty() ? std::optional<double>(run.cpuMs / kCpuReads) : std::nullopt, bare,
        kReadCpuTargetMs, run.problem.empty() && decoded == kCpuReads,
        run.problem.empty() ? fraction(decoded, kCpuReads) + " decoded" : run.problem);
    rows.add(figure, "9600", "a run of 1 reading",
             single.problem.empty() ? std::optional<double>(single.cpuMs) : std::nullopt,
             Unit::CpuMilliseconds)
        .withNote(single.problem);
}

void addBusCycle(RunRows& rows, const Progress& progress) {
    Simulator simulator(pacedSimulatorArguments({"--address", kBusInstruments}));
    const int silent = kBusAddresses - kBusInstrumentCount;
    const double boundMs =
        kBusInstrumentCount * wireLimitMs(9600) + silent * unansweredBoundMs(9600);
    // On a pseudo-terminal the request leaves at once, so darq-read's wait, counted from the end
    // of the send, is the whole wait a search makes for one address.
    const int budget = attemptBudgetMs(9600);
    const std::string addresses = "1-" + std::to_string(kBusAddresses);

    const auto cycleTimes = [&](int cycles, const std::vector<std::string>& timeout) {
        std::vector<std::string> arguments{"--port",     simulator.device(),
                                           "--address",  addresses,
                                           "--count",    std::to_string(cycles),
                                           "--interval", "0",
                                           "--format",   "csv",
                                           "--trace"};
        arguments.insert(arguments.end(), timeout.begin(), timeout.end());
        const DarqReadRun run = runDarqRead(arguments, cycles * 10000 + 10000);
        const CsvOutput csv(run.output);
        std::set<std::string> answering;
        for (int record = 0; record < csv.recordCount(); ++record) {
            if (csv.field(record, "outcome") == "decoded") {
                answering.insert(csv.field(record, "address"));
            }
        }
        std::vector<double> times;
        const bool complete =
            run.problem.empty() && int(run.traced.size()) == cycles * kBusAddresses &&
            csv.countWhere("outcome", "decoded") == cycles * kBusInstrumentCount &&
            int(answering.size()) == kBusInstrumentCount;
        for (int cycle = 0; complete && cycle < cycles; ++cycle) {
            const std::size_t first = std::size_t(cycle * kBusAddresses);
            times.push_back(run.traced[first + kBusAddresses - 1].takenMs -
                            run.traced[first].sentMs);
        }
        return times;
    };

    progress.say("bus: " + std::to_string(kBusCycles) + " cycles over " + addresses +
                 ", --timeout " + std::to_string(budget));
    const std::vector<double> cycles =
        cycleTimes(kBusCycles, {"--timeout", std::to_string(budget)});
    const std::string figure =
        "Bus cycle, 32 addresses, 8 answer, --timeout " + std::to_string(budget);
    const auto ratio = [boundMs](std::optional<double> cycleMs) {
        return cycleMs ? std::optional<double>(*cycleMs / boundMs) : std::nullopt;
    };
    const std::optional<double> medianCycle = ifAny(cycles, median);
    const std::optional<double> worstCycle = ifAny(cycles, worst);
    rows.add(figure, "9600", "median cycle / bound", ratio(medianCycle), Unit::Ratio)
        .judge(Target::atMost(kBusTargetRatio), !cycles.empty())
        .withNote(cycles.empty() ? "darq-read did not poll all 32, or not the 8 answered"
                                 : "bound " + milliseconds(boundMs) + " ms; " +
                                       std::to_string(kBusCycles) + " cycles");
    rows.add(figure, "9600", "worst cycle / bound", ratio(worstCycle), Unit::Ratio);
    rows.add(figure, "9600", "median cycle", medianCycle, Unit::Milliseconds);

    progress.say("bus: 1 cycle over " + addresses + " with darq-read's default timeout");
    const std::vector<double> usual = cycleTimes(1, {});
    rows.add("  same, darq-read's default timeout (" + std::to_string(settleTimeMs(9600)) + " ms)",
             "9600", "cycle / bound", ratio(ifAny(usual, median)), Unit::Ratio);
}

void addScanSweep(RunRows& rows, const Progress& progress) {
    // At the default address 1, which the sweep leaves out: a line where nobody answers.
    Simulator simulator(pacedSimulatorArguments());
    double budgetsMs = 0;
    for (const int baud : kDefaultSearch.baudRates) {
        budgetsMs += kSweepAddressCount * attemptBudgetMs(baud);
    }
    progress.say("darq-read --scan where nobody answers, addresses " +
                 std::string(kSweepAddresses) + " at every rate (~" +
                 std::to_string(int(budgetsMs / 1000)) + " s)");
    const DarqReadRun run = runDarqRead(
        {"--port", simulator.device(), "--scan", "--address", kSweepAddresses, "--format", "csv"},
        int(budgetsMs * 2) + 10000);
    const bool sound =
        run.problem.empty() && run.exitStatus == 1 && CsvOutput(run.output).recordCount() == 0;
    const std::string figure =
        "Scan where nobody answers, 4 rates x " + std::to_string(kSweepAddressCount) + " addresses";
    const std::optional<double> sweepMs =
        sound ? std::optional<double>(run.lifetimeMs) : std::nullopt;
    rows.add(figure, "", "sweep / budgets",
             sweepMs ? std::optional<double>(*sweepMs / budgetsMs) : std::nullopt, Unit::Ratio)
        .judge(Target::atMost(kSweepTargetRatio), sound)
        .withNote(sound ? "budgets " + milliseconds(budgetsMs / 1000) + " s, spawn to exit"
                        : "the scan did not end with nothing found: " + run.problem);
    rows.add(figure, "", "sweep", sweepMs ? std::optional<double>(*sweepMs / 1000) : std::nullopt,
             Unit::Seconds);
}

void addFindTimes(RunRows& rows, const Progress& progress) {
    // One simulator at both addresses at every rate, and one scan that goes on after each find:
    // every instrument's row comes when a scan for it alone would have stopped.
    Simulator simulator(pacedSimulatorArguments({"--address", "1,128"}));
    progress.say("darq-read --scan --all in the default order, instruments at 1 and 128 (~80 s)");
    const Clock::time_point spawned = Clock::now();
    ChildProcess reader(DARQ_READ_PATH,
                        {"--port", simulator.device(), "--scan", "--all", "--format", "csv"});
    std::string lines;
    std::vector<double> arrivalsS;
    const auto deadline = spawned + std::chrono::milliseconds(kFullScanAllowanceMs);
    while (Clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const std::optional<std::string> line = reader.readLine(int(left.count()));
        if (!line) {
            break;
        }
        if (!lines.empty()) {
            arrivalsS.push_back(std::chrono::duration<double>(Clock::now() - spawned).count());
        }
        lines += *line + "\n";
    }
    reader.stop();
    const CsvOutput csv(lines);
    const std::string figure = "Time to find an instrument, default scan order";
    for (const int baud : kDefaultSearch.baudRates) {
        for (const int address : kFindAddresses) {
            std::optional<double> foundAfter;
            for (int record = 0; record < csv.recordCount(); ++record) {
                if (csv.field(record, "baud") == std::to_string(baud) &&
                    csv.field(record, "address") == std::to_string(address)) {
                    foundAfter = arrivalsS[std::size_t(record)];
                }
            }
            rows.add(figure, std::to_string(baud), "address " + std::to_string(address), foundAfter,
                     Unit::Seconds)
                .withNote(foundAfter ? "" : "not found");
        }
    }
}

} // namespace darq::bench
