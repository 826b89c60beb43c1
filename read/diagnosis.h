#pragma once

#include "protocol/reply.h"

#include <optional>
#include <string>

namespace darq {

// What an unsatisfactory reading most likely means, for a technician at the line.
enum class Diagnosis {
    Silence,       // nothing came back
    EchoOnly,      // only our own request came back: the adapter echoes, the instrument is silent
    EchoThenOther, // our own request came back, then bytes that are no reply
    WrongLength,   // bytes came, but not 17
    BadCheckValue, // 17 bytes whose check value is wrong
};

// Looks at what a read brought back. None for a 17-byte reply with a right check value.
std::optional<Diagnosis> diagnose(const ReadOutcome& outcome);

// One short line in plain words: what came back and what to look at.
std::string diagnosisText(Diagnosis diagnosis, const ReadOutcome& outcome);

} // namespace darq
