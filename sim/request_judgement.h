#pragma once

#include "protocol/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace darq::sim {

struct RequestJudgement {
    bool answer = false;
    std::vector<std::string> flags; // why a frame is not answered, for the log
};

// Like instruments on a shared bus, it answers only an intact read request for one of its own
// addresses; anything else is left unanswered so that the right device (or none) speaks.
// `length` is the frame's whole length when only its first bytes were kept.
RequestJudgement judgeRequest(const Bytes& frame, const std::vector<int>& ownAddresses,
                              std::optional<std::size_t> length = std::nullopt);

} // namespace darq::sim
