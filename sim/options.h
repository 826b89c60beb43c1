#pragma once

#include "protocol/reply.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace darq::sim {

// How likely each fault is, drawn independently for every request the instrument answers.
struct FaultProbabilities {
    double noReply = 0.0;
    double shortReply = 0.0;
    double extraBytes = 0.0;
    double badCrc = 0.0;
    double noise = 0.0;
    double echo = 0.0;
};

// Where to serve the instrument over TCP.
struct ListenAddress {
    std::string host; // a name or a numeric address, IPv6 without brackets
    int port = 0;     // 0: any free port
};

struct SimOptions {
    std::optional<std::string> devicePath; // none: serve a fresh pseudo-terminal
    std::optional<ListenAddress> listen;   // serve a TCP port instead of a line
    int baudRate = 9600;
    std::optional<std::string> linkPath;
    std::vector<int> addresses = {1};    // one instrument, or several answering on one bus
    std::optional<int> answerRate;       // none: answer at whatever rate the tool sets
    std::optional<Reading> fixedReading; // none: values that vary over time
    bool pacing = true;
    int turnaroundMs = 5;
    FaultProbabilities faults;
    std::optional<std::uint64_t> seed;
    std::optional<std::string> logPath;
};

struct OptionsParse {
    std::optional<SimOptions> options; // set when the command line was good
    std::optional<std::string> help;   // what the options do, when --help was asked for
    bool versionRequested = false;
    std::string error; // one line, set when the command line was refused
};

// Parsed on QCommandLineParser, the one part of the simulator that needs Qt.
OptionsParse parseOptions(const std::vector<std::string>& arguments);

} // namespace darq::sim
