#pragma once

#include "protocol/bytes.h"

#include <set>
#include <string>
#include <vector>

namespace darq::testing {

// One answer of the virtual instrument, as its log records it.
struct SimAnswer {
    Bytes sent;                   // every byte put on the line for the request, echo included
    std::set<std::string> faults; // the kinds applied: "echo", "no-reply", "short-reply", ...
};

// What the virtual instrument's log says of a run, request by request in the order they came.
struct SimTranscript {
    int requests = 0;   // requests received, answered or not
    int unanswered = 0; // requests it left unanswered (bad check value, other address)
    std::vector<SimAnswer> answers;
};

SimTranscript readSimTranscript(const std::string& log);

// "01 03 0C" -> {0x01, 0x03, 0x0C}; "(none)" or "(nothing)" -> no bytes.
Bytes bytesFromHex(const std::string& text);

} // namespace darq::testing
