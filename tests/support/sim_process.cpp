#include "sim_process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace darq::testing {

namespace {

constexpr int kStartTimeoutMs = 5000;

std::vector<std::string> withLog(const std::string& logPath, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--log", logPath});
    return arguments;
}

} // namespace

SimProcess::LogFile::LogFile() {
    const char* directory = std::getenv("TMPDIR");
    path = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
           "/darq-sim-log-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        throw std::runtime_error(std::string("darq-sim log file: ") + std::strerror(errno));
    }
    ::close(fd);
}

SimProcess::LogFile::~LogFile() {
    ::unlink(path.c_str());
}

SimProcess::SimProcess(const std::vector<std::string>& arguments)
    : process_(DARQ_SIM_PATH, withLog(log_.path, arguments), {{}, log_.path}) {
    devicePath_ = process_.readLine(kStartTimeoutMs).value_or("");
    if (devicePath_.empty()) {
        process_.kill();
        throw std::runtime_error("darq-sim did not start: " + log());
    }
}

std::string SimProcess::log() const {
    std::ifstream file(log_.path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::optional<int> SimProcess::stop() {
    const std::optional<ChildProcess::Ending> ending = process_.stop();
    if (!ending || ending->exitStatus < 0) {
        return std::nullopt;
    }
    return ending->exitStatus;
}

} // namespace darq::testing
