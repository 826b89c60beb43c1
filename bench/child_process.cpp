#include "child_process.h"

#include "process_footprint.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace darq::bench {

namespace {

using Clock = std::chrono::steady_clock;

// How often the memory of a child is looked at while its output is awaited.
constexpr int kSampleEveryMs = 10;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::vector<std::string>
environmentWith(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        bool overridden = false;
        for (const auto& [key, value] : overrides) {
            overridden = overridden || key == name;
        }
        if (!overridden) {
            entries.push_back(text);
        }
    }
    for (const auto& [key, value] : overrides) {
        entries.push_back(key + "=" + value);
    }
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : ChildProcess(program, arguments, Options{}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe: " + std::string(std::strerror(errno)));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = environmentWith(options.environment);
    const std::vector<char*> argv = pointersTo(argumentTexts);
    const std::vector<char*> envp = pointersTo(environmentTexts);

    spawned_ = Clock::now();
    const int spawnError =
        ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawnError != 0) {
        ::close(pipeEnds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawnError));
    }
    stdoutFd_ = pipeEnds[0];
}

ChildProcess::~ChildProcess() {
    stop();
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
    }
}

ChildProcess::Output ChildProcess::readMore(int timeoutMs) {
    if (stdoutFd_ < 0) {
        return Output::Ended;
    }
    peakResidentKiB_ = std::max(peakResidentKiB_, highWaterResidentKiB(std::to_string(pid_)));
    pollfd watched{stdoutFd_, POLLIN, 0};
    if (::poll(&watched, 1, std::min(timeoutMs, kSampleEveryMs)) <= 0) {
        return Output::NothingYet;
    }
    char buffer[4096];
    const ssize_t count = ::read(stdoutFd_, buffer, sizeof buffer);
    if (count <= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
        return Output::Ended;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    peakResidentKiB_ = std::max(peakResidentKiB_, highWaterResidentKiB(std::to_string(pid_)));
    return Output::More;
}

std::optional<std::string> ChildProcess::readLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const Output output = readMore(remainingMs(deadline));
        if (output == Output::Ended || (output == Output::NothingYet && Clock::now() >= deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> ChildProcess::readToEnd(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (Output output = Output::More; output != Output::Ended;) {
        output = readMore(remainingMs(deadline));
        if (output == Output::NothingYet && Clock::now() >= deadline) {
            return std::nullopt;
        }
    }
    std::string all;
    all.swap(pending_);
    return all;
}

std::optional<ChildProcess::Ending> ChildProcess::wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ending_ && pid_ > 0) {
        int status = 0;
        rusage usage{};
        const pid_t reaped = ::wait4(pid_, &status, WNOHANG, &usage);
        if (reaped == pid_ || (reaped < 0 && errno != EINTR)) {
            ending_ =
                Ending{WIFEXITED(status) ? WEXITSTATUS(status) : -1, cpuMs(usage),
                       std::chrono::duration<double, std::milli>(Clock::now() - spawned_).count()};
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ending_;
}

std::optional<ChildProcess::Ending> ChildProcess::stop() {
    if (pid_ <= 0 || ending_) {
        return ending_;
    }
    ::kill(pid_, SIGTERM);
    if (auto ending = wait(2000)) {
        return ending;
    }
    ::kill(pid_, SIGKILL);
    return wait(5000);
}

} // namespace darq::bench
