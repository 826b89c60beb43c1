#include "process_footprint.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace darq::bench {

namespace {

long statusFieldKiB(const std::string& process, const std::string& field) {
    return statusFieldOfFile("/proc/" + process + "/status", field);
}

std::vector<std::string> directoryEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(path.c_str());
    if (listing == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(listing);
    return names;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

} // namespace

long residentKiB() {
    return statusFieldKiB("self", "VmRSS:");
}

long residentKiB(pid_t pid) {
    return statusFieldKiB(std::to_string(pid), "VmRSS:");
}

int openFileDescriptorCount() {
    return int(directoryEntries("/proc/self/fd").size()) - 1;
}

long peakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double ownCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuMs(usage);
}

std::optional<ProcessActivity> processActivity(pid_t pid) {
    const std::string process = "/proc/" + std::to_string(pid);
    std::ifstream stat(process + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
        return std::nullopt;
    }
    // After the name in parentheses: state, then utime and stime as the 12th and 13th fields.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field;
    long ticks = 0;
    for (int index = 0; index < 13 && fields >> field; ++index) {
        if (index >= 11) {
            ticks += std::stol(field);
        }
    }
    ProcessActivity activity;
    activity.cpuMs = double(ticks) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
    for (const std::string& thread : directoryEntries(process + "/task")) {
        const std::string status = process + "/task/" + thread + "/status";
        const long voluntary = statusFieldOfFile(status, "voluntary_ctxt_switches:");
        const long involuntary = statusFieldOfFile(status, "nonvoluntary_ctxt_switches:");
        if (voluntary >= 0 && involuntary >= 0) {
            activity.switchesByThread[std::stol(thread)] = voluntary + involuntary;
        }
    }
    return activity;
}

long switchesBetween(const ProcessActivity& before, const ProcessActivity& after) {
    long switches = 0;
    for (const auto& [thread, count] : after.switchesByThread) {
        const auto earlier = before.switchesByThread.find(thread);
        switches += count - (earlier == before.switchesByThread.end() ? 0 : earlier->second);
    }
    return switches;
}

bool holdsOpen(pid_t pid, const std::string& device) {
    const std::string wanted = realPath(device);
    const std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& descriptor : directoryEntries(descriptors)) {
        if (realPath(descriptors + "/" + descriptor) == wanted) {
            return true;
        }
    }
    return false;
}

std::string ownProgramPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, std::size_t(length)) : std::string();
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
