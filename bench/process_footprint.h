#pragma once

#include "common/process_usage.h"

#include <map>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>

namespace darq::bench {

// What this process holds right now, from /proc/self.
long residentKiB();            // VmRSS
long residentKiB(pid_t pid);   // VmRSS of another process, 0 when it is gone
int openFileDescriptorCount(); // entries of /proc/self/fd, not counting the one that lists them
long peakResidentKiB();        // getrusage ru_maxrss of this process

// Processor time this process has used so far, user and system, over all its threads.
double ownCpuMs();

// What another process has done so far, from /proc.
struct ProcessActivity {
    // utime + stime of /proc/PID/stat: every thread, also those that ended; clock ticks (10 ms).
    double cpuMs = 0;
    // Voluntary and involuntary context switches of each live thread: each time it went to sleep
    // and was woken again, or was taken off the processor.
    std::map<long, long> switchesByThread;
};
std::optional<ProcessActivity> processActivity(pid_t pid);
// The context switches between the two looks, over the threads alive at the second; those of a
// thread that ended in between are lost with it.
long switchesBetween(const ProcessActivity& before, const ProcessActivity& after);

// Whether one of the process's descriptors leads to `device` (through links, as the tool opens
// the real device behind one).
bool holdsOpen(pid_t pid, const std::string& device);

// The path of this program, to start it again as a probe.
std::string ownProgramPath();

// "Intel(R) Xeon(R) ..., 2 cores" from /proc/cpuinfo.
std::string machineDescription();
// The kernel, "Linux 6.1.0-18-amd64".
std::string systemDescription();

} // namespace darq::bench
