#pragma once

#include "protocol/bytes.h"
#include "protocol/reply.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace darq {

// What the bytes a read brought back most likely mean, for a technician at the line. The words
// are left to whoever shows it; this says what was found.
struct ReplyExplanation {
    enum class Finding {
        Clean,         // a 17-byte reply as asked, its check value right
        Silence,       // nothing came back
        EchoOnly,      // only our own request came back: the adapter echoes, nobody answered
        Exception,     // a Modbus exception answer: the instrument refused the request
        CutOff,        // fewer than 17 bytes, still arriving when the wait ended
        WrongLength,   // bytes came, but not 17 and no exception answer
        BadCheckValue, // 17 bytes whose check value is wrong
        WrongHeader,   // 17 bytes, check value right, but not the answer to what was asked
    };

    Finding finding = Finding::Silence;
    std::size_t replyLength = 0; // bytes after our echo
    bool echoRemoved = false;
    std::optional<std::uint8_t> exceptionCode; // Exception
    // A 17-byte reply: whether address, function and byte count are what was asked, and what
    // they were where they differ.
    std::optional<bool> headerOk;
    std::optional<std::uint8_t> otherAddress;
    std::optional<std::uint8_t> otherFunction;
    std::optional<std::uint8_t> otherByteCount;

    bool isClean() const { return finding == Finding::Clean; }
};

// Looks at what came back after `request`. `stillArriving` says that a byte came within a gap's
// time of the end of the wait: a short reply was then cut off rather than wrong.
ReplyExplanation explainReply(const Bytes& request, const ReadOutcome& outcome,
                              bool stillArriving = false);

} // namespace darq
