#include "broker_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace darq::testing {

Program::Program(const std::vector<std::string>& arguments, const std::string& outputPrefix,
                 const std::vector<std::string>& environment)
    : outputPath_(outputPrefix + ".out"), errorPath_(outputPrefix + ".err") {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> settings;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        settings.emplace_back(*variable);
    }
    settings.insert(settings.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (const std::string& setting : settings) {
        envp.push_back(const_cast<char*>(setting.c_str()));
    }
    envp.push_back(nullptr);
    const int out = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(errorPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // A test that dies leaves no broker or publisher behind.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    if (pid_ < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
}

Program::~Program() {
    if (!reaped_) {
        signal(SIGTERM);
        if (!wait(std::chrono::seconds(5)) && !reaped_) {
            signal(SIGKILL);
            wait(std::chrono::seconds(5));
        }
    }
}

void Program::signal(int number) {
    if (!reaped_) {
        ::kill(pid_, number);
    }
}

std::optional<int> Program::wait(std::chrono::milliseconds timeout) {
    eventually(
        [this] {
            int status = 0;
            if (!reaped_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                if (WIFEXITED(status)) {
                    status_ = WEXITSTATUS(status);
                }
            }
            return reaped_;
        },
        timeout);
    return status_;
}

std::string Program::output() const {
    return readFile(outputPath_);
}

std::string Program::errors() const {
    return readFile(errorPath_);
}

TemporaryFolder::TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/darq-gateway-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool portAnswers(int port, std::chrono::milliseconds timeout) {
    return eventually([port] { return loopbackPortAnswers(port); }, timeout);
}

Broker::Broker(const TemporaryFolder& folder, const std::string& extraConfig)
    : folder_(folder), port_(freeLoopbackPort()) {
    writeFile(folder_.file("mosquitto.conf"),
              std::string(extraConfig.find("allow_anonymous") == std::string::npos
                              ? "allow_anonymous true\n"
                              : "") +
                  // Started by root it would become the user mosquitto, who cannot read the
                  // test's folder.
                  "user " + ::getpwuid(::geteuid())->pw_name + "\n" +
                  "per_listener_settings false\n"
                  "persistence true\n"
                  "persistence_location " +
                  folder_.path() +
                  "/\n"
                  "log_dest stderr\n"
                  "listener " +
                  std::to_string(port_) + " 127.0.0.1\n" + extraConfig);
}

void Broker::start() {
    process_.emplace(
        std::vector<std::string>{"/usr/sbin/mosquitto", "-c", folder_.file("mosquitto.conf")},
        folder_.file("mosquitto"));
    if (!portAnswers(port_, std::chrono::seconds(10))) {
        throw std::runtime_error("mosquitto does not answer on port " + std::to_string(port_) +
                                 ": " + process_->errors());
    }
}

void Broker::stop() {
    process_.reset();
}

std::string Broker::url() const {
    return "mqtt://127.0.0.1:" + std::to_string(port_);
}

} // namespace darq::testing
