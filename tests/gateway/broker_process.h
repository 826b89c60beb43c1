#pragma once

#include "common/loopback_port.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace darq::testing {

// A program run for a test, its standard output and error in files. Ended with SIGTERM (SIGKILL
// after a while) and reaped when the object goes.
class Program {
public:
    Program(const std::vector<std::string>& arguments, const std::string& outputPrefix,
            const std::vector<std::string>& environment = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number);
    // Waits for the end; the exit status, none when it did not end in time or was killed.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    std::string output() const;
    std::string errors() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::optional<int> status_;
    std::string outputPath_;
    std::string errorPath_;
};

// A temporary folder, removed with what it holds.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

// A mosquitto broker on loopback ports of its own, with its own config, persistence and log in
// `folder`. Extra config lines set listeners beyond the plain one, TLS, passwords.
class Broker {
public:
    Broker(const TemporaryFolder& folder, const std::string& extraConfig = "");
    void start(); // waits until it takes connections
    void stop();  // SIGTERM: it saves its persistence
    int port() const { return port_; }
    std::string url() const;

private:
    const TemporaryFolder& folder_;
    int port_;
    std::optional<Program> process_;
};

// Waits until a TCP connection to the loopback port is taken (true) or the timeout passes.
bool portAnswers(int port, std::chrono::milliseconds timeout);

// Polls `condition` every 50 ms until it holds or the timeout passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        struct timespec pause {
            0, 50 * 1000 * 1000
        };
        nanosleep(&pause, nullptr);
    }
}

} // namespace darq::testing
