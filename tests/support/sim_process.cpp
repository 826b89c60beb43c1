#include "sim_process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace darq::testing {

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kTermGraceMs = 2000;
constexpr int kStopTimeoutMs = 5000;

std::string temporaryLogPath() {
    const char* directory = std::getenv("TMPDIR");
    std::string pattern =
        std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
        "/darq-sim-log-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw std::runtime_error(std::string("darq-sim log file: ") + std::strerror(errno));
    }
    ::close(fd);
    return pattern;
}

// Reads the first line the child prints, waiting up to the deadline; empty when none came.
std::string firstLine(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string received;
    for (;;) {
        const auto newline = received.find('\n');
        if (newline != std::string::npos) {
            return received.substr(0, newline);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return {};
        }
        pollfd pipeEnd{fd, POLLIN, 0};
        const int ready = ::poll(&pipeEnd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return {};
        }
        char buffer[256];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return {};
        }
        received.append(buffer, static_cast<std::size_t>(count));
    }
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void execSimulator(const std::vector<char*>& argv, int stdoutFd, int logFd,
                                pid_t testProcess) {
    // A test that crashes or is killed by a timeout never runs the destructor; the simulator
    // must not outlive it holding a pseudo-terminal.
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != testProcess) {
        ::_exit(127);
    }
    if (::dup2(stdoutFd, STDOUT_FILENO) < 0 || ::dup2(logFd, STDERR_FILENO) < 0) {
        ::_exit(127);
    }
    // Descriptors the test holds (a serial port, the other end of a pseudo-terminal) must not
    // stay open in the simulator, or closing them in the test would not be seen.
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
        for (int fd = 3; fd < 1024; ++fd) {
            ::close(fd);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    static const char message[] = "darq-sim could not be started\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(127);
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string>& arguments) : logPath_(temporaryLogPath()) {
    std::vector<std::string> words = {DARQ_SIM_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back("--log");
    words.push_back(logPath_);
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::unlink(logPath_.c_str());
        throw std::runtime_error(std::string("darq-sim pipe: ") + std::strerror(errno));
    }
    // Start-up errors come on stderr; they go to the log so that log() and the exception show them.
    const int logFd = ::open(logPath_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const pid_t testProcess = ::getpid();
    pid_ = logFd < 0 ? -1 : ::fork();
    if (pid_ == 0) {
        execSimulator(argv, output[1], logFd, testProcess);
    }
    const int forkError = errno;
    ::close(output[1]);
    if (logFd >= 0) {
        ::close(logFd);
    }
    if (pid_ < 0) {
        ::close(output[0]);
        ::unlink(logPath_.c_str());
        throw std::runtime_error(std::string("darq-sim could not be started: ") +
                                 std::strerror(forkError));
    }
    devicePath_ = firstLine(output[0], std::chrono::steady_clock::now() +
                                           std::chrono::milliseconds(kStartTimeoutMs));
    ::close(output[0]);
    if (devicePath_.empty()) {
        kill();
        const std::string logged = log();
        ::unlink(logPath_.c_str());
        throw std::runtime_error("darq-sim did not start: " + logged);
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !waitStatus_) {
        ::kill(pid_, SIGTERM);
        if (!reap(kTermGraceMs)) {
            kill();
        }
    }
    ::unlink(logPath_.c_str());
}

const std::string& SimProcess::devicePath() const {
    return devicePath_;
}

bool SimProcess::isRunning() {
    return !reap(0);
}

void SimProcess::kill() {
    if (pid_ > 0 && !waitStatus_) {
        ::kill(pid_, SIGKILL);
        reap(-1);
    }
}

std::string SimProcess::log() const {
    std::ifstream file(logPath_);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::optional<int> SimProcess::stop() {
    if (pid_ <= 0 || waitStatus_) {
        return std::nullopt;
    }
    ::kill(pid_, SIGTERM);
    if (!reap(kStopTimeoutMs)) {
        kill();
        return std::nullopt;
    }
    if (!WIFEXITED(*waitStatus_)) {
        return std::nullopt;
    }
    return WEXITSTATUS(*waitStatus_);
}

bool SimProcess::reap(int timeoutMs) {
    if (waitStatus_) {
        return true;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int status = 0;
        const pid_t result = ::waitpid(pid_, &status, timeoutMs < 0 ? 0 : WNOHANG);
        if (result == pid_) {
            waitStatus_ = status;
            return true;
        }
        if (result < 0 && errno != EINTR) {
            // Someone else reaped it: it has ended, with a status we cannot know (-1 reads as
            // neither an exit nor a signal).
            waitStatus_ = -1;
            return true;
        }
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (result == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

} // namespace darq::testing
