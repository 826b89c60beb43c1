#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace darq {

// A program run beside this one: the virtual instrument for a test, darq-read or the window for
// the bench. Its stdout comes back through a pipe; its stderr goes to a file (or nowhere), so that
// the simulator's request log does not bury a table. It inherits none of our descriptors but
// those three, and it gets SIGTERM when the thread that started it ends, so that a test killed by
// a timeout leaves no instrument behind holding a pseudo-terminal. Plain POSIX, so that the exit
// status and the resource usage of exactly this child can be had from wait4.
class ChildProcess {
public:
    struct Options {
        std::vector<std::pair<std::string, std::string>> environment; // set on top of ours
        std::string stderrPath = "/dev/null";                         // appended to
    };

    struct Ending {
        int exitStatus = -1;   // -1 when it ended on a signal
        double cpuMs = 0;      // its user and system time, from wait4
        double lifetimeMs = 0; // from the start to the moment it was reaped (2 ms resolution)
    };

    // Throws std::runtime_error when no process can be made; a program that cannot be run ends at
    // once with status 127.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Options& options);
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    // As stop(): whoever stops early leaves nothing behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line on its stdout, without the newline; none when the deadline passes or the
    // output ends first.
    std::optional<std::string> readLine(int timeoutMs);
    // Everything until it closes its stdout; none when the deadline passes first.
    std::optional<std::string> readToEnd(int timeoutMs);
    // Waits for the end; none when the deadline passes first. wait(0) asks whether it has ended.
    std::optional<Ending> wait(int timeoutMs);
    // SIGTERM and the wait, SIGKILL when it does not end within 5 s.
    std::optional<Ending> stop();
    // SIGKILL at once, as a peer that vanishes, and the wait.
    std::optional<Ending> kill();
    pid_t pid() const { return pid_; }
    // Its largest VmHWM seen while its output was awaited (sampled every 10 ms at least).
    long peakResidentKiB() const { return peakResidentKiB_; }

private:
    enum class Output { More, NothingYet, Ended };
    // Reads whatever comes within `timeoutMs`, and notes its memory high-water mark.
    Output readMore(int timeoutMs);
    std::optional<Ending> signalAndWait(int signal, int timeoutMs);

    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point started_;
    int stdoutFd_ = -1;
    std::string pending_;
    std::optional<Ending> ending_;
    long peakResidentKiB_ = 0;
};

} // namespace darq
