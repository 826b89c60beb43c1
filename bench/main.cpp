#include "child_process.h"
#include "naive_window.h"
#include "process_footprint.h"
#include "read_latency.h"
#include "report_table.h"
#include "startup_timing.h"
#include "statistics.h"
#include "window_timing.h"

#include "protocol/line_timing.h"
#include "protocol/read_request.h"
#include "protocol/reply.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QThreadPool>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace darq::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRates[] = {1200, 2400, 4800, 9600};
constexpr int kTurnaroundMs = 5;
constexpr int kReadLatencyReads = 50;
constexpr int kReadIntervalMs = 300;
constexpr int kWindowCycles = 20;
constexpr int kStallReads = 50;
constexpr int kNoiseFloorMs = 3000;
constexpr int kProbePeriodMs = 5;
constexpr double kStallTargetMs = 5.0;
constexpr int kGapBetweenPressesMs = 20;
constexpr int kStartupRuns = 7;
constexpr int kScreenshotRuns = 3;
constexpr double kStartupTargetMs = 300.0;
constexpr int kWarmUpExchanges = 20;
constexpr int kSoakExchanges = 1000;
constexpr long kResidentGrowthToleranceKiB = 1024;

const Clock::time_point benchStarted = Clock::now();

void progress(const std::string& text) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - benchStarted).count();
    std::fprintf(stderr, "[darq-bench %3llds] %s\n", static_cast<long long>(seconds), text.c_str());
}

double wireLimitMs(int baud) {
    return wireTimeMs(kRequestLength + kReplyLength, baud) + kTurnaroundMs;
}

double readTargetMs(int baud) {
    return 1.2 * wireLimitMs(baud) + 25.0;
}

std::string fraction(int part, int whole) {
    return std::to_string(part) + "/" + std::to_string(whole);
}

// "median 262.3 / worst 268.9 ms"
std::string medianAndWorst(const std::vector<double>& samples) {
    return "median " + milliseconds(median(samples)) + " / worst " + milliseconds(worst(samples)) +
           " ms";
}

// "x1.12 / x1.15"
std::string ratiosTo(double limitMs, const std::vector<double>& samples) {
    char text[64];
    std::snprintf(text, sizeof text, "x%.2f / x%.2f", median(samples) / limitMs,
                  worst(samples) / limitMs);
    return text;
}

std::string startSimulator(ChildProcess& simulator) {
    const std::optional<std::string> device = simulator.readLine(5000);
    if (!device || device->empty()) {
        throw std::runtime_error("darq-sim did not print its device");
    }
    return *device;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

void addWireLimits(ReportTable& table) {
    for (const int baud : kRates) {
        table.add({"Wire-time limit", std::to_string(baud),
                   "25 bytes x 11 bits at " + std::to_string(baud) + " Bd + " +
                       std::to_string(kTurnaroundMs) + " ms turnaround",
                   milliseconds(wireLimitMs(baud)) + " ms", "", Verdict::None});
    }
}

void addReadLatencies(ReportTable& table, const std::string& device, long& readPeakKiB) {
    for (const int baud : kRates) {
        progress("darq-read, " + std::to_string(kReadLatencyReads) + " reads at " +
                 std::to_string(baud) + " baud");
        const ReadLatency run =
            measureReadLatency(device, baud, kReadLatencyReads, kReadIntervalMs);
        readPeakKiB = std::max(readPeakKiB, run.peakResidentKiB);
        const std::string rate = std::to_string(baud);
        if (!run.problem.empty() || run.latenciesMs.empty()) {
            table.add({"darq-read latency_ms", rate, run.problem.empty() ? "no reply" : run.problem,
                       "", "", Verdict::NotMet});
            continue;
        }
        const double limit = wireLimitMs(baud);
        const std::string target = "worst <= " + milliseconds(readTargetMs(baud)) + " ms";
        const bool allDecoded = run.decoded == run.readings;
        table.add({"darq-read latency_ms, 50 reads", rate,
                   medianAndWorst(run.latenciesMs) + ", " + ratiosTo(limit, run.latenciesMs) +
                       ", " + fraction(run.decoded, run.readings) + " decoded",
                   milliseconds(limit) + " ms", target,
                   verdictOf(allDecoded && worst(run.latenciesMs) <= readTargetMs(baud))});
        table.add({"  same reads, sent to taken (trace)", rate,
                   medianAndWorst(run.takenMs) + ", " + ratiosTo(limit, run.takenMs),
                   milliseconds(limit) + " ms", target,
                   verdictOf(int(run.takenMs.size()) == run.decoded &&
                             worst(run.takenMs) <= readTargetMs(baud))});
    }
}

void addWindowCycles(ReportTable& table, ToolWindow& window) {
    for (const int baud : kRates) {
        progress("window read cycle, " + std::to_string(kWindowCycles) + " presses at " +
                 std::to_string(baud) + " baud");
        if (!window.selectRate(baud)) {
            throw std::runtime_error("the window's rate list has no " + std::to_string(baud));
        }
        const CycleRun run = window.read(kWindowCycles, kGapBetweenPressesMs, settleTimeMs(baud));
        const std::string figure = "Window read cycle, 20 presses";
        const std::string rate = std::to_string(baud);
        if (!run.finished) {
            table.add({figure, rate, "the window stopped ending its read cycles", "", "",
                       Verdict::NotMet});
            continue;
        }
        table.add({figure, rate,
                   medianAndWorst(run.durationsMs) + ", " +
                       ratiosTo(wireLimitMs(baud), run.durationsMs) + ", " +
                       fraction(run.succeeded, kWindowCycles) + " shown",
                   milliseconds(wireLimitMs(baud)) + " ms",
                   "- (settle wait " + std::to_string(settleTimeMs(baud)) + " ms)", Verdict::None});
    }
}

std::string stallSummary(const EventLoopProbe& probe) {
    return "worst " + milliseconds(worst(probe.latenessMs())) + " ms, p99 " +
           milliseconds(percentile(probe.latenessMs(), 0.99)) + " ms, " +
           std::to_string(probe.latenessMs().size()) + " ticks";
}

void addProbeNoiseFloor(ReportTable& table) {
    progress("event-loop probe on an idle window, the machine's noise floor");
    EventLoopProbe probe(kProbePeriodMs);
    probe.start();
    QEventLoop idle;
    QTimer::singleShot(kNoiseFloorMs, &idle, &QEventLoop::quit);
    idle.exec();
    probe.stop();
    table.add({"Event-loop probe, window idle", "", stallSummary(probe), "", "", Verdict::None});
}

void addWindowStall(ReportTable& table, ToolWindow& window) {
    progress("event-loop stall of the window, " + std::to_string(kStallReads) + " reads");
    window.selectRate(9600);
    EventLoopProbe probe(kProbePeriodMs);
    probe.start();
    const CycleRun run = window.read(kStallReads, kGapBetweenPressesMs, settleTimeMs(9600));
    probe.stop();
    table.add({"Event-loop stall, window reading 50x", "9600",
               stallSummary(probe) + ", " + fraction(run.succeeded, kStallReads) + " shown", "",
               "worst <= 5 ms",
               verdictOf(run.finished && worst(probe.latenessMs()) <= kStallTargetMs)});
}

void addNaiveStall(ReportTable& table) {
    progress("event-loop stall of the naive sleeping window, " + std::to_string(kStallReads) +
             " reads");
    NaiveReadWindow naive;
    naive.show();
    if (!naive.portOpen()) {
        throw std::runtime_error("the naive window cannot open COM1");
    }
    EventLoopProbe probe(kProbePeriodMs);
    probe.start();
    QPushButton* button = naive.readButton();
    const CycleRun run = runReadCycles(
        &naive, &NaiveReadWindow::readCycleEnded, [button] { button->click(); },
        [&naive] { return naive.readingShown(); }, kStallReads, kGapBetweenPressesMs, 60000);
    probe.stop();
    table.add({"  naive window: sleep 100 ms, 1 pump", "9600",
               stallSummary(probe) + ", " + fraction(run.succeeded, kStallReads) + " shown", "",
               "- (counter-example)", Verdict::None});
}

void addStartup(ReportTable& table, const std::string& device, long& windowPeakKiB,
                long& flowtestPeakKiB) {
    progress("start-up to the first shown window, " + std::to_string(kStartupRuns) + " runs");
    const StartupRuns probe = measureProbeStartup(device, kStartupRuns);
    if (!probe.problem.empty()) {
        table.add({"Start-up to first shown window", "", probe.problem, "", "", Verdict::NotMet});
    } else {
        windowPeakKiB = probe.peakResidentKiB;
        table.add({"Start-up to first shown window", "",
                   medianAndWorst(probe.wholeProcessMs) + " of " + std::to_string(kStartupRuns) +
                       " (in-process " + milliseconds(median(probe.inProcessMs)) + ")",
                   "", "median <= 300 ms",
                   verdictOf(median(probe.wholeProcessMs) <= kStartupTargetMs)});
    }

    progress("darq-flowtest --screenshot, " + std::to_string(kScreenshotRuns) + " runs");
    const StartupRuns screenshots = measureScreenshotRuns(device, kScreenshotRuns);
    if (!screenshots.problem.empty()) {
        table.add({"  darq-flowtest --screenshot", "", screenshots.problem, "", "", Verdict::None});
        return;
    }
    flowtestPeakKiB = screenshots.peakResidentKiB;
    table.add(
        {"  darq-flowtest --screenshot", "9600",
         medianAndWorst(screenshots.wholeProcessMs) + " of " + std::to_string(kScreenshotRuns), "",
         "- (start + 1 read + PNG)", Verdict::None});
}

// Qt's global thread pool keeps idle threads for 30 s, each with an event descriptor; one that
// expires in the middle of the soak would make the count drop for reasons of its own. Both counts
// are taken with the pool emptied.
void retireIdlePoolThreads() {
    QThreadPool::globalInstance()->waitForDone();
}

void addSoak(ReportTable& table, const std::string& device) {
    ToolWindow window(device);
    if (!window.portOpen()) {
        throw std::runtime_error("the window cannot open COM1 on " + device);
    }
    progress("warm-up, " + std::to_string(kWarmUpExchanges) + " reads without pacing");
    window.read(kWarmUpExchanges, 0, settleTimeMs(9600));
    retireIdlePoolThreads();
    const long residentBefore = residentKiB();
    const int descriptorsBefore = openFileDescriptorCount();

    progress(std::to_string(kSoakExchanges) + " reads through the window without pacing (~" +
             std::to_string(kSoakExchanges * settleTimeMs(9600) / 1000) + " s)");
    const CycleRun firstHalf = window.read(kSoakExchanges / 2, 0, settleTimeMs(9600));
    const long residentHalfway = residentKiB();
    const CycleRun secondHalf = window.read(kSoakExchanges / 2, 0, settleTimeMs(9600));
    retireIdlePoolThreads();
    const long residentAfter = residentKiB();
    const int descriptorsAfter = openFileDescriptorCount();

    std::vector<double> cycles = firstHalf.durationsMs;
    cycles.insert(cycles.end(), secondHalf.durationsMs.begin(), secondHalf.durationsMs.end());
    const int shown = firstHalf.succeeded + secondHalf.succeeded;
    const bool finished = firstHalf.finished && secondHalf.finished;
    table.add({"Window read cycle, 1000, no pacing", "9600",
               medianAndWorst(cycles) + ", " + fraction(shown, kSoakExchanges) + " shown", "",
               "- (settle wait " + std::to_string(settleTimeMs(9600)) + " ms)", Verdict::None});

    const long growthKiB = residentAfter - residentBefore;
    table.add({"VmRSS over those 1000 exchanges", "",
               mebibytes(residentBefore) + " -> " + mebibytes(residentHalfway) + " -> " +
                   mebibytes(residentAfter) + ", growth " + std::to_string(growthKiB) + " KiB",
               "", "growth < 1024 KiB",
               verdictOf(finished && growthKiB < kResidentGrowthToleranceKiB)});
    table.add({"Open fds over those 1000 exchanges", "",
               std::to_string(descriptorsBefore) + " -> " + std::to_string(descriptorsAfter), "",
               "identical", verdictOf(finished && descriptorsAfter == descriptorsBefore)});
}

void addPeaks(ReportTable& table, long windowPeakKiB, long flowtestPeakKiB, long readPeakKiB) {
    table.add({"Peak RSS, darq-bench (ru_maxrss)", "", mebibytes(peakResidentKiB()), "", "",
               Verdict::None});
    table.add(
        {"Peak RSS, start-up probe (VmHWM)", "", mebibytes(windowPeakKiB), "", "", Verdict::None});
    table.add({"Peak RSS, darq-flowtest --screenshot (VmHWM)", "", mebibytes(flowtestPeakKiB), "",
               "", Verdict::None});
    table.add({"Peak RSS, darq-read 50 reads (VmHWM)", "", mebibytes(readPeakKiB), "", "",
               Verdict::None});
}

std::string loadAverage() {
    std::ifstream loadavg("/proc/loadavg");
    double lastMinute = 0;
    loadavg >> lastMinute;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", lastMinute);
    return text;
}

void printLegend(std::ostream& out) {
    out << "\nLimit: request 8 + reply 17 bytes at 11 bits a byte (8N2) plus darq-sim's "
           "turnaround; x = median / worst divided by it.\n"
           "darq-read latency_ms runs from the end of the send to the reply's last byte; "
           "'sent to taken' adds the quiet gap that ends a reply\n"
           "  (3.5 characters, at least 20 ms), from the --trace time stamps (1 ms "
           "resolution). Target for both: 1.2 x limit + 25 ms.\n"
           "Window read cycle: Command2 pressed to readCycleEnded; the window waits its fixed "
           "settle time, so it sits at the settle wait by design.\n"
           "Event-loop stall: largest gap between ticks of a 5 ms precise timer, minus 5 ms.\n"
           "Start-up: darq-bench re-run as a probe that builds the window as darq-flowtest "
           "does; spawn to its first paint done, offscreen;\n"
           "  in-process = main() to that paint. darq-flowtest --screenshot: spawn to the PNG "
           "of one reading saved.\n"
           "Memory and fds: after 20 warm-up reads, after 520 and after 1020; Qt's idle pool "
           "threads retired before each count.\n"
           "Peak RSS of children is VmHWM: their ru_maxrss would include darq-bench's own "
           "memory at spawn time.\n";
}

int runBench() {
    ReportTable table;
    const std::string date = utcNow();
    const std::string loadAtStart = loadAverage();
    addWireLimits(table);

    long readPeakKiB = 0;
    long windowPeakKiB = 0;
    long flowtestPeakKiB = 0;
    {
        progress("starting darq-sim with pacing, turnaround " + std::to_string(kTurnaroundMs) +
                 " ms");
        ChildProcess pacedSimulator(DARQ_SIM_PATH, {"--turnaround", std::to_string(kTurnaroundMs)});
        const std::string device = startSimulator(pacedSimulator);
        addReadLatencies(table, device, readPeakKiB);
        {
            ToolWindow window(device);
            if (!window.portOpen()) {
                throw std::runtime_error("the window cannot open COM1 on " + device);
            }
            addWindowCycles(table, window);
            addProbeNoiseFloor(table);
            addWindowStall(table, window);
        }
        addNaiveStall(table);
    }
    {
        progress("starting darq-sim without pacing");
        ChildProcess quickSimulator(DARQ_SIM_PATH, {"--no-pacing"});
        const std::string device = startSimulator(quickSimulator);
        addStartup(table, device, windowPeakKiB, flowtestPeakKiB);
        addSoak(table, device);
    }
    addPeaks(table, windowPeakKiB, flowtestPeakKiB, readPeakKiB);

    std::cout << "darq-bench, " << date << "\n"
              << "Machine: " << machineDescription() << ", " << systemDescription()
              << ", load average " << loadAtStart << " at the start\n"
              << "Qt " << qVersion() << " (built against " << QT_VERSION_STR
              << "), platform offscreen; darq-sim with pacing, turnaround " << kTurnaroundMs
              << " ms, unless said otherwise\n\n";
    table.print(std::cout);
    printLegend(std::cout);
    std::cout << "\n"
              << (table.everyTargetMet() ? "Every target met." : "Some targets NOT MET.")
              << std::endl;
    progress("done");
    return 0;
}

} // namespace

} // namespace darq::bench

int main(int argc, char* argv[]) {
    const auto mainEntered = std::chrono::steady_clock::now();
    if (argc >= 2 && std::string(argv[1]) == darq::bench::kStartupProbeOption) {
        return darq::bench::runStartupProbe(argc, argv, mainEntered);
    }
    // Figures that do not depend on a display server: the bench always draws offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    try {
        return darq::bench::runBench();
    } catch (const std::exception& error) {
        std::cerr << "darq-bench: " << error.what() << "\n";
        return 2;
    }
}
