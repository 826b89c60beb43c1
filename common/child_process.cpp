#include "common/child_process.h"

#include "common/process_usage.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace darq {

namespace {

using Clock = std::chrono::steady_clock;

// How often the memory of a child is looked at while its output is awaited.
constexpr int kSampleEveryMs = 10;
constexpr int kStopGraceMs = 5000;

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

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void becomeProgram(char* const argv[], char* const envp[], const char* stderrPath,
                                int stdoutFd, pid_t parent) {
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) {
        ::_exit(127);
    }
    const int stderrFd = ::open(stderrPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (stderrFd < 0 || ::dup2(stdoutFd, STDOUT_FILENO) < 0 ||
        ::dup2(stderrFd, STDERR_FILENO) < 0) {
        ::_exit(127);
    }
    // Descriptors the parent holds (a serial port, the other end of a pseudo-terminal) must not
    // stay open in the child, or closing them in the parent would not be seen.
    if (::close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < 1024; ++fd) {
            ::close(fd);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv, envp);
    for (const char* part : {"cannot start ", const_cast<const char*>(argv[0]), "\n"}) {
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, part, std::strlen(part));
    }
    ::_exit(127);
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : ChildProcess(program, arguments, Options{}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options) {
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = environmentWith(options.environment);
    const std::vector<char*> argv = pointersTo(argumentTexts);
    const std::vector<char*> envp = pointersTo(environmentTexts);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    started_ = Clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
        becomeProgram(argv.data(), envp.data(), options.stderrPath.c_str(), output[1], parent);
    }
    const int forkError = errno;
    ::close(output[1]);
    if (pid_ < 0) {
        ::close(output[0]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(forkError));
    }
    stdoutFd_ = output[0];
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
    if (count < 0 && errno == EINTR) {
        return Output::NothingYet;
    }
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
        // Reaped by someone else, it has ended with a status we cannot know.
        if (reaped == pid_ || (reaped < 0 && errno != EINTR)) {
            ending_ =
                Ending{reaped == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1, cpuMs(usage),
                       std::chrono::duration<double, std::milli>(Clock::now() - started_).count()};
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ending_;
}

std::optional<ChildProcess::Ending> ChildProcess::signalAndWait(int signal, int timeoutMs) {
    if (pid_ > 0 && !ending_) {
        ::kill(pid_, signal);
    }
    return wait(timeoutMs);
}

std::optional<ChildProcess::Ending> ChildProcess::stop() {
    if (auto ending = signalAndWait(SIGTERM, kStopGraceMs)) {
        return ending;
    }
    return kill();
}

std::optional<ChildProcess::Ending> ChildProcess::kill() {
    return signalAndWait(SIGKILL, kStopGraceMs);
}

} // namespace darq
