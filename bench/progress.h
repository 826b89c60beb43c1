#pragma once

#include <chrono>
#include <string>

namespace darq::bench {

// What the bench is doing, one line on stderr at a time, with the time since it started.
class Progress {
public:
    Progress() : started_(std::chrono::steady_clock::now()) {}

    void startRun(int run, int runs);
    void say(const std::string& text) const;
    double minutesSinceStart() const;

private:
    std::chrono::steady_clock::time_point started_;
    std::string run_;
};

} // namespace darq::bench
