#pragma once

#include "protocol/bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace darq::sim {

struct RequestJudgement {
    bool answer = false;
    std::vector<std::string> flags; // why a frame is not answered, for the log
};

// Like an instrument on a shared bus, it answers only an intact read request for its own
// address; anything else is left unanswered so that the right device (or none) speaks.
RequestJudgement judgeRequest(const Bytes& frame, std::uint8_t ownAddress);

} // namespace darq::sim
