#pragma once

#include "common/child_process.h"

#include <optional>
#include <string>
#include <vector>

namespace darq::testing {

// Runs darq-sim for one test. The path of the darq-sim binary is compiled in.
class SimProcess {
public:
    // Starts darq-sim with these extra arguments and waits (up to 5 s) for its device path line.
    // Throws std::runtime_error if it does not start.
    explicit SimProcess(const std::vector<std::string>& arguments = {});
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& devicePath() const { return devicePath_; } // the path it serves
    bool isRunning() { return !process_.wait(0); }
    void kill() { process_.kill(); } // SIGKILL at once, as a peer that vanishes
    // What it logged: it is started with --log <tempfile> first, and its stderr goes there too.
    std::string log() const;

    // SIGTERM, then waits up to 5 s for the end (SIGKILL after that). The exit status when it
    // ended by itself, none when it had to be killed.
    std::optional<int> stop();

private:
    // A file of our own for the log, removed again with the SimProcess.
    struct LogFile {
        LogFile();
        LogFile(const LogFile&) = delete;
        LogFile& operator=(const LogFile&) = delete;
        ~LogFile();
        std::string path;
    };

    LogFile log_;
    ChildProcess process_;
    std::string devicePath_;
};

} // namespace darq::testing
