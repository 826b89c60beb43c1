#include "common/process_usage.h"

#include <fstream>

namespace darq {

double cpuMs(const rusage& usage) {
    const auto ms = [](const timeval& time) {
        return double(time.tv_sec) * 1000.0 + double(time.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long statusFieldOfFile(const std::string& path, const std::string& field) {
    std::ifstream status(path);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(field.size()));
        }
    }
    return -1;
}

long highWaterResidentKiB(const std::string& process) {
    return statusFieldOfFile("/proc/" + process + "/status", "VmHWM:");
}

} // namespace darq
