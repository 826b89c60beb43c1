#include "bare_exchange.h"
#include "figures.h"
#include "line_limits.h"
#include "process_footprint.h"
#include "progress.h"
#include "result_table.h"
#include "startup_timing.h"

#include "protocol/number_list.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace darq::bench {

namespace {

struct Figure {
    const char* name; // for --only and --help
    FigureFunction add;
    // Figures that take long and hardly depend on the machine's mood are measured in the first
    // run only.
    bool everyRun;
    const char* legend; // how it is measured, under the table
};

// The bench's figures in the order they run and appear in the table. A new figure is a function
// that adds rows (figures.h) and one entry here.
constexpr Figure kFigures[] = {
    {"read-latency", addReadLatencies, true,
     "darq-read latency_ms: end of the send to the reply's last byte; 'sent to taken' adds the "
     "quiet gap that ends a reply\n"
     "  (3.5 characters, at least 20 ms), from the --trace time stamps (1 ms). Target for both: "
     "p95 <= 1.2 L + 25 ms.\n"},
    {"read-cpu", addReadCpu, true,
     "darq-read CPU: user+sys from wait4, whole run (start-up included) / 1000, against darq-sim "
     "--no-pacing --turnaround 0,\n"
     "  with --interval 0 --timeout 100 (a reply ends by its 20 ms quiet gap, not by the wait).\n"
     "  Judged above the bare exchange: the least a reader does (write the request, wait for 17 "
     "bytes and the quiet gap, print a line)\n"
     "  in a process of its own, 150 exchanges just before and 150 just after; what it costs is "
     "this machine's price for the\n"
     "  system calls and wakeups of a reading, which a busy or an idle virtual machine changes.\n"},
    {"bus-cycle", addBusCycle, true,
     "Bus cycle: darq-read --address 1-32 against darq-sim --address 1,5,9-14; a cycle runs from "
     "its first request to its 32nd reply taken\n"
     "  (trace). Bound: 8 answered x L + 24 unanswered x (25 bytes' wire time + 50 ms turnaround "
     "allowance), each silent address\n"
     "  costing what a search attempt may wait. On a pseudo-terminal the request leaves at once, "
     "so --timeout is that whole wait,\n"
     "  rounded up as a search rounds it.\n"},
    {"scan-sweep", addScanSweep, true,
     "Scan sweep: darq-read --scan --address 2-33 (9600, 4800, 2400, 1200) against a darq-sim at "
     "address 1, so nobody answers;\n"
     "  spawn to exit over the sum of the attempt budgets (25 bytes' wire time rounded up + "
     "50 ms). A subset: the full 516 attempts\n"
     "  take 81 s, which the find figure spends once.\n"},
    {"tcp", addNetworkReads, true,
     "TCP: the same paced readings of darq-read at 9600 Bd from a darq-sim on a pseudo-terminal "
     "and from one serving loopback TCP\n"
     "  (darq-sim --listen), as through a serial device server: what the socket adds to a "
     "reading.\n"},
    {"find", addFindTimes, false,
     "Time to find: one darq-read --scan --all in the default order (9600, 4800, 2400, 1200; "
     "address 1, then 0, 2-128) against\n"
     "  a darq-sim answering at 1 and 128 at every rate: spawn to each instrument's row. An "
     "earlier find ends its attempt early,\n"
     "  so a later time is up to 0.2 s shorter than a scan for that instrument alone. Measured "
     "once.\n"},
    {"mqtt-latency", addGatewayLatency, true,
     "Gateway latency: darq-read --mqtt, a reading every 50 ms, to a mosquitto on loopback and a "
     "subscriber in the bench; from the\n"
     "  reply taken (--trace, 1 ms) to the record in the subscriber's hands. The reply's last "
     "byte is the record's time plus its\n"
     "  latency_ms; a reply is taken only after the quiet gap that ends it (at least 20 ms), so "
     "that row carries the gap.\n"},
    {"mqtt-cpu", addGatewayCpu, true,
     "Gateway CPU: darq-read user+sys from wait4 (its gateway threads included) over 500 "
     "unpaced readings, as the CPU figure above,\n"
     "  without --mqtt and with --mqtt and --spool to a broker on loopback; the lower of two runs "
     "of each.\n"},
    {"spool-resend", addSpoolResend, true,
     "Spool resend: 10,000 records spooled by the gateway library with no broker, then "
     "darq-read started with that spool and a\n"
     "  broker: its spawn to the 10,000th record at a subscriber.\n"},
    {"mqtt-memory", addGatewayMemory, false,
     "Gateway memory: darq-read --mqtt --spool, 100,000 readings at --interval 0 --timeout 1 of "
     "an address nobody answers (each a\n"
     "  no-data record, the most records a line can give), broker up and broker away: VmRSS "
     "after 10,000 and its growth to\n"
     "  100,000. Measured once.\n"},
    {"window-cycles", addWindowReadCycles, true,
     "Window read cycle: Command2 pressed to readCycleEnded; the window waits its fixed settle "
     "time, so it sits there by design.\n"},
    {"stall", addEventLoopStall, true,
     "Event-loop probe: lateness of each tick of a 5 ms precise timer, in 5 slices of 0.6 s "
     "idle alternating with 5 slices of 10 reads.\n"},
    {"log-stall", addTrafficLogStall, true,
     "Traffic log: the same probe with the log window open and holding its 10,000 rows (copies "
     "of a real one), each read adding\n"
     "  a row and dropping the oldest; then its memory before and after 20,000 more rows.\n"},
    {"trend-stall", addTrendStall, true,
     "Trend: the same probe with the trend window open on 10,000 readings in the log, two seconds "
     "apart as automatic reading\n"
     "  leaves them, following the newest: each read adds a point to the ten minutes in view.\n"},
    {"trend-cpu", addTrendCpu, true,
     "Trend CPU: as the window CPU below, over 300 read cycles with the trend open on those "
     "10,000 readings.\n"},
    {"naive-stall", addNaiveStall, true,
     "Naive window: the same probe around a window that sleeps through the 100 ms wait, 4 reads "
     "a slice; it exists only in the bench.\n"},
    {"startup", addStartup, true,
     "Start-up: darq-bench re-run as a probe that builds the window as darq-flowtest does; spawn "
     "to its first paint done, offscreen;\n"
     "  in-process = main() to that paint. darq-flowtest --screenshot: spawn to the PNG of one "
     "reading saved.\n"},
    {"soak", addWindowSoak, true,
     "Window CPU: darq-bench's own user+sys over the 1000 read cycles, the window and the presses "
     "that drive it, judged above\n"
     "  the bare exchange as darq-read's is. Memory and fds: after 20 warm-up reads, after 520 "
     "and after 1020; Qt's idle pool\n"
     "  threads retired before each count.\n"},
    {"idle", addIdleWindow, false,
     "Window idle: darq-flowtest, its port open on a darq-sim, once the threads of its start-up "
     "have retired (Qt ends them after 30 s):\n"
     "  CPU from /proc/PID/stat (10 ms ticks); wakeups = voluntary + involuntary context switches "
     "of its threads. Measured once.\n"},
    {"bench-peak", addBenchPeak, true,
     "Peak RSS of children is VmHWM: their ru_maxrss would include darq-bench's own memory at "
     "spawn time.\n"},
};

struct BenchOptions {
    int repeat = 1;
    std::vector<std::string> only; // figure names; empty: all
};

std::string usage() {
    std::string text = "usage: darq-bench [--repeat N] [--only FIGURE[,FIGURE...]]\n"
                       "  --repeat N  run every figure N times (1-20) and print each statistic's\n"
                       "              min / median / max over the runs; verdicts judge the median\n"
                       "  --only      measure only these figures:";
    for (const Figure& figure : kFigures) {
        text += std::string(" ") + figure.name;
    }
    return text + "\n";
}

std::vector<std::string> commaSeparated(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool knownFigure(const std::string& name) {
    return std::any_of(std::begin(kFigures), std::end(kFigures),
                       [&name](const Figure& figure) { return name == figure.name; });
}

// Throws std::invalid_argument with the reason on a usage error.
BenchOptions parseOptions(const std::vector<std::string>& arguments) {
    BenchOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& name = arguments[index];
        if (index + 1 >= arguments.size() || (name != "--repeat" && name != "--only")) {
            throw std::invalid_argument("unknown option or missing value: " + name);
        }
        const std::string& value = arguments[++index];
        if (name == "--repeat") {
            const std::optional<int> repeat = parsePlainNumber(value);
            if (!repeat || *repeat < 1 || *repeat > 20) {
                throw std::invalid_argument("--repeat takes a number from 1 to 20: " + value);
            }
            options.repeat = *repeat;
        } else {
            for (const std::string& figure : commaSeparated(value)) {
                if (!knownFigure(figure)) {
                    throw std::invalid_argument("no figure named '" + figure + "'");
                }
                options.only.push_back(figure);
            }
        }
    }
    return options;
}

bool selected(const BenchOptions& options, const Figure& figure) {
    return options.only.empty() ||
           std::find(options.only.begin(), options.only.end(), figure.name) != options.only.end();
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

std::string loadAverage() {
    std::ifstream loadavg("/proc/loadavg");
    double lastMinute = 0;
    loadavg >> lastMinute;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", lastMinute);
    return text;
}

std::string limitsText() {
    std::string rates;
    std::string limits;
    for (const int baud : kRates) {
        rates += (rates.empty() ? "" : " / ") + std::to_string(baud);
        limits += (limits.empty() ? "" : " / ") + milliseconds(wireLimitMs(baud));
    }
    return limits + " ms at " + rates + " Bd";
}

void printLegend(std::ostream& out, const BenchOptions& options) {
    out << "\nEach verdict judges the statistic it names, against the noise of the same run: "
           "latencies at p95 (the worst below it),\n"
           "the window's event-loop stall as its p99 minus the p99 of an idle probe taken in "
           "slices between its reads,\n"
           "processor time per reading above a bare exchange measured around it.\n";
    if (options.repeat > 1) {
        out << "Over " << options.repeat
            << " runs a verdict judges the median of the runs' values; \"2/3 runs\" counts "
               "the runs in which the target held;\n"
               "a statistic measured in one run only shows its value under median and says "
               "\"once\".\n";
    }
    out << "Limit L: request 8 + reply 17 bytes at 11 bits a byte (8N2) plus darq-sim's "
        << kTurnaroundMs << " ms turnaround: " << limitsText() << ".\n";
    for (const Figure& figure : kFigures) {
        if (selected(options, figure)) {
            out << figure.legend;
        }
    }
}

int runBench(const BenchOptions& options) {
    Progress progress;
    const std::string date = utcNow();
    const std::string loadAtStart = loadAverage();
    ResultTable table;
    for (int run = 1; run <= options.repeat; ++run) {
        progress.startRun(run, options.repeat);
        RunRows rows;
        for (const Figure& figure : kFigures) {
            if (selected(options, figure) && (figure.everyRun || run == 1)) {
                figure.add(rows, progress);
            }
        }
        table.addRun(rows);
    }

    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f min", progress.minutesSinceStart());
    std::cout << "darq-bench --repeat " << options.repeat << ", " << date << ", " << duration
              << "\n"
              << "Machine: " << machineDescription() << ", " << systemDescription()
              << ", load average " << loadAtStart << " at the start, " << loadAverage()
              << " at the end\n"
              << "Qt " << qVersion() << " (built against " << QT_VERSION_STR
              << "), platform offscreen; darq-sim with pacing, turnaround " << kTurnaroundMs
              << " ms, unless said otherwise\n\n";
    table.print(std::cout);
    printLegend(std::cout, options);
    const std::vector<std::string> notMet = table.targetsNotMet();
    if (notMet.empty()) {
        std::cout << "\nEvery target met.\n";
    } else {
        std::cout << "\nTargets NOT MET:\n";
        for (const std::string& name : notMet) {
            std::cout << "  " << name << "\n";
        }
    }
    std::cout << std::flush;
    progress.say("done");
    return 0;
}

} // namespace

} // namespace darq::bench

int main(int argc, char* argv[]) {
    const auto mainEntered = std::chrono::steady_clock::now();
    if (argc >= 2 && std::string(argv[1]) == darq::bench::kStartupProbeOption) {
        return darq::bench::runStartupProbe(argc, argv, mainEntered);
    }
    if (argc == 4 && std::string(argv[1]) == darq::bench::kBareExchangeOption) {
        return darq::bench::runBareExchanges(argv[2], std::atoi(argv[3]));
    }
    darq::bench::BenchOptions options;
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
            std::cout << darq::bench::usage();
            return 0;
        }
        options = darq::bench::parseOptions(arguments);
    } catch (const std::invalid_argument& error) {
        std::cerr << "darq-bench: " << error.what() << "\n" << darq::bench::usage();
        return 64;
    }
    // Figures that do not depend on a display server: the bench always draws offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    try {
        return darq::bench::runBench(options);
    } catch (const std::exception& error) {
        std::cerr << "darq-bench: " << error.what() << "\n";
        return 2;
    }
}
