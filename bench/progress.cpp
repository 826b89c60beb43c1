#include "progress.h"

#include <cstdio>

namespace darq::bench {

void Progress::startRun(int run, int runs) {
    run_ = runs > 1 ? "run " + std::to_string(run) + "/" + std::to_string(runs) + ": " : "";
}

void Progress::say(const std::string& text) const {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - started_)
                             .count();
    std::fprintf(stderr, "[darq-bench %4llds] %s%s\n", static_cast<long long>(seconds),
                 run_.c_str(), text.c_str());
}

double Progress::minutesSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count() /
           60.0;
}

} // namespace darq::bench
