#pragma once

#include "protocol/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace darq {

constexpr std::size_t kReplyLength = 17;
// The reply's byte count field: six registers of two bytes.
constexpr std::uint8_t kReplyDataByteCount = 12;

// The numbers an instrument reply carries. Multi-byte fields are big-endian on the wire.
struct Reading {
    std::int32_t flow = 0;          // reply bytes 3-6
    std::uint8_t flowDecimals = 0;  // byte 7
    std::uint16_t totalHigh = 0;    // bytes 8-9, shown in front of the low part
    std::int32_t totalLow = 0;      // bytes 10-13
    std::uint8_t totalDecimals = 0; // byte 14

    bool operator==(const Reading& other) const;
};

// The verdict on what came back after one read request. `kind` is what the window makes of it:
// a reply of exactly 17 bytes is decoded whatever its header and check value (the window shows
// it, flagged), nothing is no data, any other count is ignored. `finding` says whether it is a
// reading this instrument sent intact and, where not, what it most likely means.
struct ReadOutcome {
    enum class Kind {
        NoData,  // nothing came after our echo
        Decoded, // a 17-byte reply
        Ignored, // any other number of bytes
    };
    enum class Finding {
        Clean,         // a 17-byte reply as asked, its check value right: a reading
        Silence,       // nothing came back
        EchoOnly,      // only our own request came back: the adapter echoes, nobody answered
        Exception,     // a Modbus exception answer: the instrument refused the request
        CutOff,        // fewer than 17 bytes, still arriving when the wait ended
        WrongLength,   // bytes came, but not 17 and no exception answer
        BadCheckValue, // 17 bytes whose check value is wrong
        WrongHeader,   // 17 bytes, check value right, but not the answer to what was asked
    };

    Kind kind = Kind::NoData;
    Finding finding = Finding::Silence;
    Bytes received;                 // every byte that came, the echo included
    bool echoRemoved = false;       // the first 8 bytes were our own request, heard back
    std::optional<Reading> reading; // set when decoded
    std::string flowText;           // set when decoded
    std::string totalText;          // set when decoded
    bool checkValueOk = false;      // meaningful when decoded
    std::optional<std::uint8_t> exceptionCode; // an exception answer's code
    // A 17-byte reply: whether address, function and byte count are what was asked, and what
    // they were where they differ.
    std::optional<bool> headerOk;
    std::optional<std::uint8_t> otherAddress;
    std::optional<std::uint8_t> otherFunction;
    std::optional<std::uint8_t> otherByteCount;

    // The bytes the outcome was decided on: what came after the echo.
    Bytes reply() const;
    // Only a reply this instrument sent intact is its reading: a historian must never take a
    // corrupted number, or another instrument's, for it.
    bool isReading() const { return finding == Finding::Clean; }
};

// Judges everything that arrived after sending `request` (empty: a reply heard without one).
// Many RS-485 adapters hear their own transmission, so the reply comes behind an exact copy of the
// request: those bytes are removed first, and nothing behind them is no data. A reply itself
// never begins with the request: its third byte is the byte count 0x0C where a read request has
// 0x01. `stillArriving` says that a byte came within a gap's time of the end of the wait: a short
// reply was then cut off rather than wrong.
ReadOutcome judgeReply(const Bytes& request, const Bytes& received, bool stillArriving = false);

// The display texts of a reading: the flow with its decimal point, and the total as the high
// part's digits (none when it is 0) directly followed by the low part with its decimal point.
std::string flowText(const Reading& reading);
std::string totalText(const Reading& reading);

// The instrument's 17-byte reply carrying `reading`: address, function 3, byte count 12, the
// twelve data bytes, then CRC-16/MODBUS over the first 15 bytes, low byte first.
Bytes encodeReply(std::uint8_t address, const Reading& reading);

} // namespace darq
