#include "figures.h"

#include "bare_exchange.h"
#include "common/child_process.h"
#include "line_limits.h"
#include "naive_window.h"
#include "process_footprint.h"
#include "simulator.h"
#include "startup_timing.h"
#include "statistics.h"
#include "window_timing.h"

#include "ui/traffic_log.h"

#include <QEventLoop>
#include <QPushButton>
#include <QThreadPool>

#include <functional>
#include <stdexcept>
#include <thread>

namespace darq::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWindowCycles = 10;
constexpr int kGapBetweenPressesMs = 20;
constexpr int kProbePeriodMs = 5;
constexpr int kStallSlices = 5;
constexpr int kReadsPerStallSlice = 10;
constexpr int kStallReads = kStallSlices * kReadsPerStallSlice;
// The sleeping counter-example stalls on every read; a few show it.
constexpr int kNaiveReadsPerStallSlice = 4;
constexpr int kIdleSliceMs = 600;
constexpr double kStallTargetMs = 5.0;
constexpr int kStartupRuns = 7;
constexpr int kScreenshotRuns = 3;
constexpr double kStartupTargetMs = 300.0;
constexpr int kWarmUpExchanges = 20;
constexpr int kSoakExchanges = 1000;
constexpr double kWindowCpuTargetMs = 1.0;
constexpr double kResidentGrowthToleranceKiB = 1024;
constexpr int kLogRowsAfterFull = 2 * TrafficLogModel::kMaxRows;
constexpr int kTrendReadingStepMs = 2000; // automatic reading's interval
constexpr int kTrendSoakCycles = 300;
constexpr double kTrendCpuTargetMs = 2.0;
constexpr int kIdleWindowSeconds = 60;
// Qt ends a thread of its pool once it has been idle for 30 s; the window's start-up leaves a
// few behind, and their one ending is not the idle window's doing.
constexpr int kPoolThreadsRetireWithinMs = 35000;
constexpr double kIdleCpuTargetPercent = 0.1;
constexpr double kIdleWakeupTargetPerSecond = 0.1;

void requireOpenPort(const ToolWindow& window, const std::string& device) {
    if (!window.portOpen()) {
        throw std::runtime_error("the window cannot open COM1 on " + device);
    }
}

void waitInEventLoop(int milliseconds) {
    QEventLoop idle;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &idle, &QEventLoop::quit);
    idle.exec();
}

// Polls `condition` every 50 ms until it holds or `timeoutMs` have passed.
bool waitUntil(int timeoutMs, const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

struct StallSamples {
    std::vector<double> idleMs;    // lateness of the probe while nothing ran
    std::vector<double> readingMs; // lateness of the probe while the window read
    CycleRun cycles;
};

// Alternates slices of an idle event loop with slices of reads, each watched by its own probe,
// so that both see the same moods of the machine: a machine that stalls everything for 20 ms
// shows in both, a window that stalls shows only in the second.
StallSamples interleavedStall(int readsPerSlice,
                              const std::function<CycleRun(int reads)>& readSlice) {
    EventLoopProbe idle(kProbePeriodMs);
    EventLoopProbe reading(kProbePeriodMs);
    StallSamples samples;
    samples.cycles.finished = true;
    for (int slice = 0; slice < kStallSlices; ++slice) {
        idle.start();
        waitInEventLoop(kIdleSliceMs);
        idle.stop();
        reading.start();
        const CycleRun run = readSlice(readsPerSlice);
        reading.stop();
        samples.cycles.durationsMs.insert(samples.cycles.durationsMs.end(), run.durationsMs.begin(),
                                          run.durationsMs.end());
        samples.cycles.succeeded += run.succeeded;
        samples.cycles.finished = samples.cycles.finished && run.finished;
    }
    samples.idleMs = idle.latenessMs();
    samples.readingMs = reading.latenessMs();
    return samples;
}

StallSamples windowStall(ToolWindow& window) {
    return interleavedStall(kReadsPerStallSlice, [&window](int slice) {
        return window.read(slice, kGapBetweenPressesMs, settleTimeMs(9600));
    });
}

// The window's stall, judged against the idle probe of the same run.
void addWindowStallRows(RunRows& rows, const std::string& figure, const StallSamples& samples) {
    const int reads = kStallReads;
    const bool allShown = samples.cycles.finished && samples.cycles.succeeded == reads;
    rows.add(figure, "9600", "p99 - idle p99", p99(samples.readingMs) - p99(samples.idleMs),
             Unit::Milliseconds)
        .judge(Target::atMost(kStallTargetMs), allShown)
        .withNote(fraction(samples.cycles.succeeded, reads) + " shown");
    rows.add(figure, "9600", "p99", p99(samples.readingMs), Unit::Milliseconds);
    rows.add(figure, "9600", "worst", worst(samples.readingMs), Unit::Milliseconds);
}

// Qt's global thread pool keeps idle threads for 30 s, each with an event descriptor; one that
// expires in the middle of the soak would make the count drop for reasons of its own. Both counts
// are taken with the pool emptied.
void retireIdlePoolThreads() {
    QThreadPool::globalInstance()->waitForDone();
}

struct Soak {
    std::vector<double> cyclesMs;
    int shown = 0;
    bool finished = false;
    double cpuMs = 0; // this process's user and system time over the cycles
    long residentBefore = 0;
    long residentHalfway = 0;
    long residentAfter = 0;
    int descriptorsBefore = 0;
    int descriptorsAfter = 0;
};

// The trend beside the window, on a log full of readings ending now.
void openFullTrend(ToolWindow& window) {
    window.fillLogWithReadings(TrafficLogModel::kMaxRows, kTrendReadingStepMs);
    window.showTrend();
    waitInEventLoop(kIdleSliceMs);
}

// The window's read cycles one after the other against an unpaced simulator, after a warm-up
// and `prepare`, with what they cost and what they leave behind.
Soak soakWindow(const std::string& device, int cycles,
                const std::function<void(ToolWindow&)>& prepare = {}) {
    ToolWindow window(device);
    requireOpenPort(window, device);
    window.read(kWarmUpExchanges, 0, settleTimeMs(9600));
    if (prepare) {
        prepare(window);
    }
    retireIdlePoolThreads();
    Soak soak;
    soak.residentBefore = residentKiB();
    soak.descriptorsBefore = openFileDescriptorCount();
    const double cpuBefore = ownCpuMs();
    const CycleRun firstHalf = window.read(cycles / 2, 0, settleTimeMs(9600));
    soak.residentHalfway = residentKiB();
    const CycleRun secondHalf = window.read(cycles - cycles / 2, 0, settleTimeMs(9600));
    soak.cpuMs = ownCpuMs() - cpuBefore;
    retireIdlePoolThreads();
    soak.residentAfter = residentKiB();
    soak.descriptorsAfter = openFileDescriptorCount();
    soak.cyclesMs = firstHalf.durationsMs;
    soak.cyclesMs.insert(soak.cyclesMs.end(), secondHalf.durationsMs.begin(),
                         secondHalf.durationsMs.end());
    soak.shown = firstHalf.succeeded + secondHalf.succeeded;
    soak.finished = firstHalf.finished && secondHalf.finished;
    return soak;
}

// The window at 9600 Bd on a paced simulator, its port open: where the stall figures read.
struct PacedWindow {
    Simulator simulator{pacedSimulatorArguments()};
    ToolWindow window{simulator.device()};

    PacedWindow() {
        requireOpenPort(window, simulator.device());
        window.selectRate(9600);
    }
};

} // namespace

void addWindowReadCycles(RunRows& rows, const Progress& progress) {
    Simulator simulator(pacedSimulatorArguments());
    ToolWindow window(simulator.device());
    requireOpenPort(window, simulator.device());
    const std::string figure = "Window read cycle, " + std::to_string(kWindowCycles) + " presses";
    for (const int baud : kRates) {
        progress.say("window read cycle, " + std::to_string(kWindowCycles) + " presses at " +
                     std::to_string(baud) + " baud");
        const std::string rate = std::to_string(baud);
        if (!window.selectRate(baud)) {
            rows.add(figure, rate, "median", std::nullopt, Unit::Milliseconds)
                .withNote("the rate list has no " + rate);
            continue;
        }
        const CycleRun run = window.read(kWindowCycles, kGapBetweenPressesMs, settleTimeMs(baud));
        if (!run.finished) {
            rows.add(figure, rate, "median", std::nullopt, Unit::Milliseconds)
                .withNote("the window stopped ending its read cycles");
            continue;
        }
        rows.add(figure, rate, "median", median(run.durationsMs), Unit::Milliseconds)
            .withNote(fraction(run.succeeded, kWindowCycles) + " shown; settle wait " +
                      std::to_string(settleTimeMs(baud)) + " ms");
        rows.add(figure, rate, "worst", worst(run.durationsMs), Unit::Milliseconds);
    }
}

void addEventLoopStall(RunRows& rows, const Progress& progress) {
    const int reads = kStallReads;
    PacedWindow paced;
    ToolWindow& window = paced.window;
    progress.say("event-loop stall of the window, " + std::to_string(reads) +
                 " reads between idle slices");
    const StallSamples samples = windowStall(window);
    const std::string idle = "Event-loop probe, idle between the reads";
    rows.add(idle, "", "p99", p99(samples.idleMs), Unit::Milliseconds)
        .withNote(std::to_string(kStallSlices) + " slices of " + std::to_string(kIdleSliceMs) +
                  " ms");
    rows.add(idle, "", "worst", worst(samples.idleMs), Unit::Milliseconds);

    const std::string figure = "Event-loop stall, window reading " + std::to_string(reads) + "x";
    addWindowStallRows(rows, figure, samples);
}

void addTrafficLogStall(RunRows& rows, const Progress& progress) {
    const int reads = kStallReads;
    PacedWindow paced;
    ToolWindow& window = paced.window;
    window.read(1, 0, settleTimeMs(9600));
    window.showTrafficLog();
    window.repeatNewestLogRow(TrafficLogModel::kMaxRows);
    waitInEventLoop(kIdleSliceMs);
    progress.say("event-loop stall with the traffic log open and full, " + std::to_string(reads) +
                 " reads between idle slices");
    const StallSamples samples = windowStall(window);
    const std::string full = std::to_string(TrafficLogModel::kMaxRows) + " rows";
    const std::string figure =
        "Event-loop stall, window reading " + std::to_string(reads) + "x, log open, " + full;
    addWindowStallRows(rows, figure, samples);
    rows.add(figure, "9600", "idle p99", p99(samples.idleMs), Unit::Milliseconds);

    progress.say("traffic log: " + std::to_string(kLogRowsAfterFull) + " more rows, log full");
    retireIdlePoolThreads();
    const long residentFull = residentKiB();
    window.repeatNewestLogRow(kLogRowsAfterFull);
    waitInEventLoop(kIdleSliceMs);
    retireIdlePoolThreads();
    const std::string memory =
        "VmRSS, log full, " + std::to_string(kLogRowsAfterFull) + " more rows";
    rows.add(memory, "", "growth", double(residentKiB() - residentFull), Unit::KiB)
        .judge(Target::below(kResidentGrowthToleranceKiB));
    rows.add(memory, "", "with " + full, double(residentFull) / 1024.0, Unit::MiB);
}

void addTrendStall(RunRows& rows, const Progress& progress) {
    const int reads = kStallReads;
    PacedWindow paced;
    ToolWindow& window = paced.window;
    window.read(1, 0, settleTimeMs(9600));
    openFullTrend(window);
    progress.say("event-loop stall with the trend open on " +
                 std::to_string(TrafficLogModel::kMaxRows) + " readings, " + std::to_string(reads) +
                 " reads between idle slices");
    const StallSamples samples = windowStall(window);
    const std::string figure = "Event-loop stall, window reading " + std::to_string(reads) +
                               "x, trend open, " + std::to_string(TrafficLogModel::kMaxRows) +
                               " readings";
    addWindowStallRows(rows, figure, samples);
    rows.add(figure, "9600", "idle p99", p99(samples.idleMs), Unit::Milliseconds);
}

void addTrendCpu(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing"});
    progress.say(std::to_string(kTrendSoakCycles) +
                 " reads through the window with the trend open on " +
                 std::to_string(TrafficLogModel::kMaxRows) + " readings");
    Soak soak;
    const BareExchanges bare = bareExchangesAround(simulator.device(), kBareExchangeCount, [&] {
        soak = soakWindow(simulator.device(), kTrendSoakCycles, openFullTrend);
    });
    const bool sound = soak.finished && soak.shown == kTrendSoakCycles;
    addCpuAboveBareExchange(
        rows,
        "Window CPU (user+sys), trend open, " + std::to_string(kTrendSoakCycles) + " read cycles",
        "per read cycle", soak.cpuMs / kTrendSoakCycles, bare, kTrendCpuTargetMs, sound,
        fraction(soak.shown, kTrendSoakCycles) + " shown");
}

void addNaiveStall(RunRows& rows, const Progress& progress) {
    const int reads = kStallSlices * kNaiveReadsPerStallSlice;
    progress.say("event-loop stall of the naive sleeping window, " + std::to_string(reads) +
                 " reads between idle slices");
    Simulator simulator(pacedSimulatorArguments());
    qputenv("DARQ_COM1", QByteArray::fromStdString(simulator.device()));
    NaiveReadWindow naive;
    naive.show();
    if (!naive.portOpen()) {
        throw std::runtime_error("the naive window cannot open COM1 on " + simulator.device());
    }
    QPushButton* button = naive.readButton();
    const StallSamples samples =
        interleavedStall(kNaiveReadsPerStallSlice, [&naive, button](int slice) {
            return runReadCycles(
                &naive, &NaiveReadWindow::readCycleEnded, [button] { button->click(); },
                [&naive] { return naive.readingShown(); }, slice, kGapBetweenPressesMs, 60000);
        });
    const std::string figure =
        "  naive window, sleeps 100 ms, pumps once: " + std::to_string(reads) + "x";
    rows.add(figure, "9600", "p99 - idle p99", p99(samples.readingMs) - p99(samples.idleMs),
             Unit::Milliseconds)
        .withNote("the counter-example; " + fraction(samples.cycles.succeeded, reads) + " shown");
    rows.add(figure, "9600", "worst", worst(samples.readingMs), Unit::Milliseconds);
}

void addStartup(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing"});
    progress.say("start-up to the first shown window, " + std::to_string(kStartupRuns) + " runs");
    const StartupRuns probe = measureProbeStartup(simulator.device(), kStartupRuns);
    const std::string figure = "Start-up to first shown window";
    const std::string runs = "of " + std::to_string(kStartupRuns) + " runs";
    if (!probe.problem.empty()) {
        rows.add(figure, "", "median", std::nullopt, Unit::Milliseconds)
            .judge(Target::atMost(kStartupTargetMs))
            .withNote(probe.problem);
    } else {
        rows.add(figure, "", "median", median(probe.wholeProcessMs), Unit::Milliseconds)
            .judge(Target::atMost(kStartupTargetMs))
            .withNote(runs);
        rows.add(figure, "", "worst", worst(probe.wholeProcessMs), Unit::Milliseconds);
        rows.add(figure, "", "in-process median", median(probe.inProcessMs), Unit::Milliseconds);
        rows.add("Peak RSS, start-up probe (VmHWM)", "", "peak",
                 double(probe.peakResidentKiB) / 1024.0, Unit::MiB);
    }

    progress.say("darq-flowtest --screenshot, " + std::to_string(kScreenshotRuns) + " runs");
    const StartupRuns screenshots = measureScreenshotRuns(simulator.device(), kScreenshotRuns);
    const std::string screenshot = "darq-flowtest --screenshot";
    if (!screenshots.problem.empty()) {
        rows.add(screenshot, "9600", "median", std::nullopt, Unit::Milliseconds)
            .withNote(screenshots.problem);
        return;
    }
    rows.add(screenshot, "9600", "median", median(screenshots.wholeProcessMs), Unit::Milliseconds)
        .withNote("start + 1 read + PNG, of " + std::to_string(kScreenshotRuns) + " runs");
    rows.add("Peak RSS, darq-flowtest --screenshot (VmHWM)", "", "peak",
             double(screenshots.peakResidentKiB) / 1024.0, Unit::MiB);
}

void addWindowSoak(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing"});
    progress.say(std::to_string(kSoakExchanges) + " reads through the window without pacing (~" +
                 std::to_string(kSoakExchanges * settleTimeMs(9600) / 1000) +
                 " s), between two halves of bare exchanges");
    Soak soak;
    const BareExchanges bare = bareExchangesAround(simulator.device(), kBareExchangeCount, [&] {
        soak = soakWindow(simulator.device(), kSoakExchanges);
    });

    const bool sound = soak.finished && soak.shown == kSoakExchanges;
    const std::string cycleCount = std::to_string(kSoakExchanges);
    rows.add("Window read cycle, " + cycleCount + ", no pacing", "9600", "median",
             ifAny(soak.cyclesMs, median), Unit::Milliseconds)
        .withNote(fraction(soak.shown, kSoakExchanges) + " shown; settle wait " +
                  std::to_string(settleTimeMs(9600)) + " ms");
    addCpuAboveBareExchange(rows, "Window CPU (user+sys), " + cycleCount + " read cycles",
                            "per read cycle", soak.cpuMs / kSoakExchanges, bare, kWindowCpuTargetMs,
                            sound, "");

    const std::string memory = "VmRSS over those " + cycleCount;
    rows.add(memory, "", "growth", double(soak.residentAfter - soak.residentBefore), Unit::KiB)
        .judge(Target::below(kResidentGrowthToleranceKiB), sound);
    rows.add(memory, "", "growth half-way", double(soak.residentHalfway - soak.residentBefore),
             Unit::KiB);
    rows.add(memory, "", "after", double(soak.residentAfter) / 1024.0, Unit::MiB);
    const std::string descriptors = "Open fds over those " + cycleCount;
    rows.add(descriptors, "", "change", double(soak.descriptorsAfter - soak.descriptorsBefore),
             Unit::Count)
        .judge(Target::exactly(0), sound);
    rows.add(descriptors, "", "after", double(soak.descriptorsAfter), Unit::Count);
}

void addIdleWindow(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing"});
    ChildProcess::Options options;
    options.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"DARQ_COM1", simulator.device()}};
    ChildProcess window(DARQ_FLOWTEST_PATH, {}, options);
    const std::string figure =
        "Window idle " + std::to_string(kIdleWindowSeconds) + " s, port open (darq-flowtest)";
    const auto portOpen = [&window, &simulator] {
        return holdsOpen(window.pid(), simulator.device());
    };
    if (!waitUntil(20000, portOpen)) {
        rows.add(figure, "", "CPU, % of one core", std::nullopt, Unit::PercentOfCore)
            .judge(Target::below(kIdleCpuTargetPercent))
            .withNote("darq-flowtest did not open its port");
        return;
    }
    progress.say("idle window: waiting for its start-up threads to retire (up to " +
                 std::to_string(kPoolThreadsRetireWithinMs / 1000) + " s)");
    // Threads of the window's start-up may not all exist yet when its port is open; counting at
    // once could see a single thread before they come.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    waitUntil(kPoolThreadsRetireWithinMs, [&window] {
        const auto activity = processActivity(window.pid());
        return activity && activity->switchesByThread.size() == 1;
    });

    progress.say("idle window: " + std::to_string(kIdleWindowSeconds) + " s with its port open");
    const std::optional<ProcessActivity> before = processActivity(window.pid());
    const Clock::time_point started = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleWindowSeconds));
    const std::optional<ProcessActivity> after = processActivity(window.pid());
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const bool stillOpen = portOpen();
    window.stop();
    if (!before || !after) {
        rows.add(figure, "", "CPU, % of one core", std::nullopt, Unit::PercentOfCore)
            .judge(Target::below(kIdleCpuTargetPercent))
            .withNote("darq-flowtest ended while idle");
        return;
    }
    const double cpuMs = after->cpuMs - before->cpuMs;
    rows.add(figure, "", "CPU, % of one core", cpuMs / (seconds * 1000.0) * 100.0,
             Unit::PercentOfCore)
        .judge(Target::below(kIdleCpuTargetPercent), stillOpen)
        .withNote(std::to_string(before->switchesByThread.size()) + " -> " +
                  std::to_string(after->switchesByThread.size()) + " threads");
    rows.add(figure, "", "CPU in all", cpuMs, Unit::Milliseconds);
    rows.add(figure, "", "wakeups", double(switchesBetween(*before, *after)) / seconds,
             Unit::PerSecond)
        .judge(Target::below(kIdleWakeupTargetPerSecond), stillOpen);
}

void addBenchPeak(RunRows& rows, const Progress&) {
    rows.add("Peak RSS, darq-bench (ru_maxrss)", "", "peak", double(peakResidentKiB()) / 1024.0,
             Unit::MiB);
}

} // namespace darq::bench
