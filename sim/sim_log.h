#pragma once

#include "protocol/bytes.h"

#include <cstdio>
#include <string>

namespace darq::sim {

// Timestamped lines to stderr or a log file, each flushed at once so that a reader (a person
// watching, or a test) sees it as soon as it is written. A log that cannot be written is said once
// on stderr and remembered for the exit status; the instrument serves on without it.
class SimLog {
public:
    SimLog(std::FILE* stream, std::string name) : stream_(stream), name_(std::move(name)) {}
    void write(const std::string& message);
    bool lostLines() const { return lostLines_; }

private:
    std::FILE* stream_;
    std::string name_;
    bool lostLines_ = false;
};

} // namespace darq::sim
