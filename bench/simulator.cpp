#include "simulator.h"

#include "line_limits.h"

#include <stdexcept>

namespace darq::bench {

Simulator::Simulator(const std::vector<std::string>& arguments)
    : process_(DARQ_SIM_PATH, arguments) {
    const std::optional<std::string> device = process_.readLine(5000);
    if (!device || device->empty()) {
        throw std::runtime_error("darq-sim did not print its device");
    }
    device_ = *device;
}

std::vector<std::string> pacedSimulatorArguments(std::vector<std::string> more) {
    more.insert(more.begin(), {"--turnaround", std::to_string(kTurnaroundMs)});
    return more;
}

} // namespace darq::bench
