#pragma once

#include "result_table.h"

#include <functional>
#include <optional>
#include <string>

namespace darq::bench {

// The option that makes darq-bench the bare exchange probe instead of the bench.
inline constexpr const char* kBareExchangeOption = "--bare-exchange-probe";

// Run in a child darq-bench with the device and a count: the least any reader can do for one
// reading, `count` times over, with none of darq-read's machinery. It sets the line to 9600 8N2,
// then for each reading drops stale input, writes the request for address 1, waits for 17 bytes
// and then for the 20 ms quiet gap, and prints one line; at the end "cpu MS", its user and system
// time over the readings. That is what this machine charges a reading in system calls and
// wakeups alone. Exit status 0 when every reading got its 17 bytes.
int runBareExchanges(const std::string& device, int count);

// How many bare exchanges surround a measurement: enough for a stable mean, few enough to take
// about 6 s.
inline constexpr int kBareExchangeCount = 300;

struct BareExchanges {
    double cpuMsPerExchange = 0;
    std::string problem; // empty when every exchange got its reply
};

// Runs the probe as a child against `device` for half of `count` exchanges, then `between` (which
// must leave the device free again), then the other half: both halves see the machine in the mood
// of the measurement they surround.
BareExchanges bareExchangesAround(const std::string& device, int count,
                                  const std::function<void()>& between);

// The rows of a processor time per reading, judged by what it costs above the bare exchange of
// the same run, with the raw figure and the bare exchange beside it.
void addCpuAboveBareExchange(RunRows& rows, const std::string& figure, const std::string& perWhat,
                             std::optional<double> cpuMs, const BareExchanges& bare,
                             double targetMs, bool sound, const std::string& note);

} // namespace darq::bench
