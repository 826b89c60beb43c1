#pragma once

#include <string>

namespace darq::bench {

// What this process holds right now, from /proc/self.
long residentKiB();            // VmRSS
int openFileDescriptorCount(); // entries of /proc/self/fd, not counting the one that lists them
long peakResidentKiB();        // getrusage ru_maxrss of this process

// VmHWM of a process ("self" or a pid), -1 once it is gone. For a child this is the figure to
// use: its ru_maxrss also counts the memory of the parent it was spawned from, because the
// kernel keeps the high-water mark of the address space it had before exec.
long highWaterResidentKiB(const std::string& process);

// "Intel(R) Xeon(R) ..., 2 cores" from /proc/cpuinfo.
std::string machineDescription();
// The kernel, "Linux 6.1.0-18-amd64".
std::string systemDescription();

} // namespace darq::bench
