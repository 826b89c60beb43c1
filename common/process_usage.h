#pragma once

#include <string>
#include <sys/resource.h>

namespace darq {

// User and system time of a resource usage, in milliseconds.
double cpuMs(const rusage& usage);

// The number after `field` ("VmHWM:", "voluntary_ctxt_switches:") in a /proc status file; -1 when
// the file or the field is not there, as once the process or thread is gone.
long statusFieldOfFile(const std::string& path, const std::string& field);

// VmHWM of a process ("self" or a pid), -1 once it is gone. For a child this is the figure to
// use: its ru_maxrss also counts the memory of the parent it was started from, because the
// kernel keeps the high-water mark of the address space it had before exec.
long highWaterResidentKiB(const std::string& process);

} // namespace darq
