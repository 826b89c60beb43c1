#include "process_footprint.h"

#include <dirent.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <thread>

namespace darq::bench {

namespace {

long statusFieldKiB(const std::string& process, const std::string& field) {
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(field.size()));
        }
    }
    return -1;
}

} // namespace

long residentKiB() {
    return statusFieldKiB("self", "VmRSS:");
}

long highWaterResidentKiB(const std::string& process) {
    return statusFieldKiB(process, "VmHWM:");
}

int openFileDescriptorCount() {
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(listing);
    return count - 1;
}

long peakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string machineDescription() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown CPU";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
}

std::string systemDescription() {
    utsname names{};
    if (::uname(&names) != 0) {
        return "unknown system";
    }
    return std::string(names.sysname) + " " + names.release + " " + names.machine;
}

} // namespace darq::bench
