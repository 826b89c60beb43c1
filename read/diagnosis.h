#pragma once

#include "protocol/bytes.h"

#include <optional>
#include <string>

namespace darq {

// What an unsatisfactory reading most likely means, for a technician at the line.
enum class Diagnosis {
    Silence,       // nothing came back
    EchoOnly,      // only our own request came back
    EchoThenOther, // our own request came back, then other bytes
    WrongLength,   // bytes came, but not 17
    BadCheckValue, // 17 bytes whose check value is wrong
};

// Looks at what arrived after `request`. None for a 17-byte reply with a right check value.
std::optional<Diagnosis> diagnose(const Bytes& request, const Bytes& received);

// One short line in plain words: what came back and what to look at.
std::string diagnosisText(Diagnosis diagnosis, const Bytes& request, const Bytes& received);

} // namespace darq
