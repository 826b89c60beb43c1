#pragma once

#include "common/child_process.h"

#include <string>
#include <vector>

namespace darq::bench {

// A darq-sim running beside the bench for as long as this object lives, with its
// pseudo-terminal ready for the tool.
class Simulator {
public:
    // Throws std::runtime_error when it does not start or does not name its device.
    explicit Simulator(const std::vector<std::string>& arguments);

    const std::string& device() const { return device_; }

private:
    ChildProcess process_;
    std::string device_;
};

// darq-sim's arguments for a line paced like a wire, with the bench's turnaround, then `more`.
std::vector<std::string> pacedSimulatorArguments(std::vector<std::string> more = {});

} // namespace darq::bench
