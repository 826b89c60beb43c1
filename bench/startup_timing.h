#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace darq::bench {

// The option that makes darq-bench the start-up probe instead of the bench.
inline constexpr const char* kStartupProbeOption = "--startup-probe";

// Run in a child darq-bench: builds the application and darq::Form1 exactly as darq-flowtest's
// main does, shows it, and once its first paint is done prints
// "shown <ms since main was entered> <VmHWM KiB>" and quits.
int runStartupProbe(int argc, char* argv[], std::chrono::steady_clock::time_point mainEntered);

struct StartupRuns {
    std::vector<double> wholeProcessMs; // spawn to the first paint done, as the parent saw it
    std::vector<double> inProcessMs;    // main() entered to the first paint done
    long peakResidentKiB = 0;           // the largest VmHWM of the runs
    std::string problem;
};

// Starts the probe `runs` times, one after the other, with COM1 on `com1Device`.
StartupRuns measureProbeStartup(const std::string& com1Device, int runs);

// Runs darq-flowtest --screenshot `runs` times with COM1 on `com1Device`: spawn to the saved
// picture of one reading, as the parent saw it.
StartupRuns measureScreenshotRuns(const std::string& com1Device, int runs);

} // namespace darq::bench
