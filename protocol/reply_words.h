#pragma once

#include "protocol/reply.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace darq {

// A sentence for a person, kept apart from its language: the English source text with its
// placeholders %1, %2, ... and what fills them. The window shows it through its translation
// system (the texts are marked for it under the context "ReplyWords"); darq-read prints the
// English. An argument that is a plain value (a number, bytes) is not translated.
struct Words {
    std::string text;
    bool translatable = true;
    std::vector<Words> arguments;
};

// The source text of a sentence to its text in the reader's language.
using Translator = std::function<std::string(const std::string& sourceText)>;

// The sentence with its placeholders filled, each text passed through `translate` (none: the
// English as written).
std::string render(const Words& words, const Translator& translate = {});

// Who reads the words: darq-read's user can raise --timeout, the window's cannot.
enum class WordsFor { CommandLine, Window };

// What a read brought back, in plain words: one line saying what came and what to look at. None
// for a clean reading.
std::optional<Words> explanationWords(const ReadOutcome& outcome, WordsFor reader);

// A Modbus exception code with its standard meaning: "02 illegal data address".
Words exceptionWords(std::uint8_t code);

// A total below the one the same address gave before, in plain words; `from` and `to` as
// displayed.
Words totalBackWords(const std::string& from, const std::string& to);

} // namespace darq
