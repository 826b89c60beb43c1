#pragma once

#include "protocol/reply_explanation.h"

#include <QString>

#include <cstdint>

namespace darq {

// Who reads the words: darq-read's user can raise --timeout, the window's cannot.
enum class WordsFor { CommandLine, Window };

// What a read brought back, in plain words: one line saying what came and what to look at.
// Empty for a clean reply. The window shows them in the operator's language.
QString explanationText(const ReplyExplanation& explanation, WordsFor reader);

// A Modbus exception code with its standard meaning: "02 illegal data address".
QString exceptionText(std::uint8_t code);

} // namespace darq
