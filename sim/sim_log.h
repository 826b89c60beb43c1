#pragma once

#include "protocol/bytes.h"

#include <cstdio>
#include <string>

namespace darq::sim {

// Timestamped lines to stderr or a log file, each flushed at once so that a reader (a person
// watching, or a test) sees it as soon as it is written.
class SimLog {
public:
    explicit SimLog(std::FILE* stream) : stream_(stream) {}
    void write(const std::string& message);

private:
    std::FILE* stream_;
};

} // namespace darq::sim
