#include "common/exit_status.h"
#include "common/standard_streams.h"
#include "sim/faults.h"
#include "sim/instrument.h"
#include "sim/options.h"
#include "sim/served_line.h"
#include "sim/sim_log.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace darq;
using namespace darq::sim;

// The stop signals are taken from a signalfd in the wait loop, so they are blocked rather than
// handled: nothing runs in signal context and no wake-up can be lost between two waits.
int stopSignalFd() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, SIG_DFL);
        sigaddset(&signals, signal);
    }
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return -1;
    }
    return ::signalfd(-1, &signals, SFD_CLOEXEC);
}

std::string addressList(const std::vector<int>& addresses) {
    std::string text;
    for (const int address : addresses) {
        text += (text.empty() ? "" : ",") + std::to_string(address);
    }
    return text;
}

std::string describe(const SimOptions& options, const ServedLine& line, std::uint64_t seed) {
    const std::string kind =
        line.isSocket() ? "TCP, one client at a time, " + std::to_string(options.baudRate) + " Bd"
        : line.isPseudoTerminal() ? "pseudo-terminal"
                                  : "serial device";
    std::string text =
        "serving " + line.path() + " (" + kind + ") as address " + addressList(options.addresses);
    if (options.answerRate) {
        text += " at " + std::to_string(*options.answerRate) + " Bd only";
    }
    text += options.fixedReading ? ", fixed values" : ", varying values";
    text += options.pacing
                ? ", paced with " + std::to_string(options.turnaroundMs) + " ms turnaround"
                : ", not paced";
    return text + ", seed " + std::to_string(seed);
}

bool printed(const std::string& text) {
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

// Why the instrument cannot serve: on stderr, and in the log file when there is one.
int unusable(const SimOptions& options, SimLog& log, const std::string& reason) {
    std::fprintf(stderr, "darq-sim: %s\n", reason.c_str());
    if (options.logPath) {
        log.write(reason);
    }
    return kExitPortUnusable;
}

int serve(const SimOptions& options, SimLog& log) {
    const int stopFd = stopSignalFd();
    if (stopFd < 0) {
        return unusable(options, log,
                        std::string("cannot take the stop signals: ") + std::strerror(errno));
    }
    // Pacing emulates what a pseudo-terminal lacks; a real serial device paces itself.
    SimOptions effective = options;
    std::optional<ServedLine> line;
    std::unique_ptr<DeviceLink> link;
    try {
        if (options.devicePath) {
            line.emplace(ServedLine::openDevice(*options.devicePath, options.baudRate));
            effective.pacing = false;
        } else if (options.listen) {
            line.emplace(ServedLine::listenOn(options.listen->host, options.listen->port));
        } else {
            line.emplace(ServedLine::openPseudoTerminal(options.baudRate));
        }
        if (options.linkPath) {
            link = std::make_unique<DeviceLink>(*options.linkPath, line->path());
        }
    } catch (const std::runtime_error& error) {
        ::close(stopFd);
        return unusable(options, log, error.what());
    }
    if (!printed(line->path() + "\n")) {
        std::fprintf(stderr, "darq-sim: cannot write the device path to standard output: %s\n",
                     std::strerror(errno));
        ::close(stopFd);
        return kExitOutputLost;
    }

    const std::uint64_t seed = options.seed.value_or(std::random_device{}());
    log.write(describe(effective, *line, seed));
    SeededRandom random(seed);
    VirtualInstrument instrument(effective, *line, log, random);
    const std::optional<std::string> failure = instrument.run(stopFd);
    ::close(stopFd);
    return failure ? unusable(options, log, *failure) : kExitSuccess;
}

} // namespace

int main(int argc, char** argv) {
    darq::reopenClosedStandardStreams();
    const OptionsParse parse = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parse.help) {
        return printed(*parse.help) ? kExitSuccess : kExitOutputLost;
    }
    if (parse.versionRequested) {
        return printed("darq-sim " DARQ_VERSION "\n") ? kExitSuccess : kExitOutputLost;
    }
    if (!parse.options) {
        std::fprintf(stderr, "darq-sim: %s\nusage: darq-sim [OPTION]... (--help lists them)\n",
                     parse.error.c_str());
        return kExitUsage;
    }
    // A reader of the first line may go away; that must not end the instrument.
    std::signal(SIGPIPE, SIG_IGN);

    std::FILE* logStream = stderr;
    if (parse.options->logPath) {
        logStream = std::fopen(parse.options->logPath->c_str(), "a");
        if (logStream == nullptr) {
            std::fprintf(stderr, "darq-sim: cannot open the log file %s: %s\n",
                         parse.options->logPath->c_str(), std::strerror(errno));
            return kExitOutputLost;
        }
    }
    SimLog log(logStream, parse.options->logPath.value_or("stderr"));
    const int status = serve(*parse.options, log);
    // Every line was flushed when it was written: only the close itself can fail here.
    const bool logClosed = logStream == stderr || std::fclose(logStream) == 0;
    if (!logClosed) {
        std::fprintf(stderr, "darq-sim: cannot close the log %s: %s\n",
                     parse.options->logPath->c_str(), std::strerror(errno));
    }
    return status == kExitSuccess && (log.lostLines() || !logClosed) ? kExitOutputLost : status;
}
