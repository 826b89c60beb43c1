#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace darq::testing {

// Runs darq-sim for one test. The path of the darq-sim binary is compiled in.
class SimProcess {
public:
    // Starts darq-sim with these extra arguments and waits (up to 5 s) for its device path line.
    // Throws std::runtime_error if it does not start.
    explicit SimProcess(const std::vector<std::string>& arguments = {});
    ~SimProcess(); // SIGTERM, then SIGKILL after 2 s; reaps the child
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& devicePath() const; // the pseudo-terminal (or --device) path it serves
    bool isRunning();
    void kill();             // SIGKILL at once, as a peer that vanishes
    std::string log() const; // what it logged (it is started with --log <tempfile>)

    // SIGTERM, then waits up to 5 s for the end (SIGKILL after that). The exit status when it
    // ended by itself, none when it had to be killed or was gone already.
    std::optional<int> stop();

private:
    // Reaps the child if it has ended; waits up to `timeoutMs` for that.
    bool reap(int timeoutMs);

    pid_t pid_ = -1;
    std::optional<int> waitStatus_;
    std::string devicePath_;
    std::string logPath_;
};

} // namespace darq::testing
