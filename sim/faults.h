#pragma once

#include "protocol/bytes.h"
#include "sim/options.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace darq::sim {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A number from 0 (included) to 1 (excluded).
    virtual double uniform() = 0;
    // A whole number from `low` to `high`, both included.
    virtual int between(int low, int high) = 0;
};

class SeededRandom : public RandomSource {
public:
    explicit SeededRandom(std::uint64_t seed) : engine_(seed) {}
    double uniform() override;
    int between(int low, int high) override;

private:
    std::mt19937_64 engine_;
};

struct FaultDraw {
    bool noReply = false;
    bool shortReply = false;
    bool extraBytes = false;
    bool badCrc = false;
    bool noise = false;
    bool echo = false;
};

// One independent draw per fault, always all six in the same order, so that a seed gives the
// same run whatever the probabilities are.
FaultDraw drawFaults(const FaultProbabilities& probabilities, RandomSource& random);

// What goes on the line for one answered request.
struct Transmission {
    Bytes echo;  // the request as an RS-485 adapter hears it back, sent while it is on the wire
    Bytes reply; // what the instrument sends after the turnaround
    std::vector<std::string> applied; // the faults that changed anything, for the log
};

// Applies the drawn faults to the instrument's reply. No reply silences it and noise replaces it
// with a burst of random bytes (never exactly a reply's length); otherwise a bad CRC corrupts the
// check value, a short reply keeps 1 to 16 bytes and extra bytes append 1 to 8. An echo repeats
// the request in front of whatever is sent.
Transmission applyFaults(const Bytes& request, const Bytes& reply, const FaultDraw& faults,
                         RandomSource& random);

} // namespace darq::sim
