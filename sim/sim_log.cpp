#include "sim/sim_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace darq::sim {

void SimLog::write(const std::string& message) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const bool written = std::fprintf(stream_, "%s.%03d %s\n", stamp,
                                      static_cast<int>(milliseconds), message.c_str()) >= 0 &&
                         std::fflush(stream_) == 0;
    if (!written && !lostLines_) {
        lostLines_ = true;
        const std::string reason = std::strerror(errno);
        std::fprintf(stderr, "darq-sim: cannot write the log to %s: %s; serving on without it\n",
                     name_.c_str(), reason.c_str());
    }
}

} // namespace darq::sim
