#pragma once

#include <string>
#include <vector>

namespace darq::bench {

// One darq-read run, in two views: the latency it reports itself for every reading (latency_ms:
// from the end of the send to the last byte of the reply), and from its --trace, the time from
// the request going out to the reply being taken, which adds the quiet gap that ends a reply.
struct ReadLatency {
    std::vector<double> latenciesMs; // latency_ms, one per reading that got a reply
    std::vector<double> takenMs;     // trace, request sent to reply taken (1 ms resolution)
    int readings = 0;
    int decoded = 0;
    int exitStatus = -1;
    long peakResidentKiB = 0;
    std::string problem; // empty when the run went as it should
};

// Runs darq-read --count `count` --interval `intervalMs` --format csv --trace at `baud` on
// `device`.
ReadLatency measureReadLatency(const std::string& device, int baud, int count, int intervalMs);

} // namespace darq::bench
