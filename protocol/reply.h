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

// What one read request brought back. Only a reply of exactly 17 bytes is decoded; its header
// is not examined and a bad check value does not stop the decoding (the window shows it anyway),
// but the outcome says whether the check value was right.
struct ReadOutcome {
    enum class Kind {
        NoData,  // nothing at all arrived
        Decoded, // a 17-byte reply
        Ignored, // any other number of bytes
    };

    Kind kind = Kind::NoData;
    Bytes received;                 // every byte that came, the echo included
    bool echoRemoved = false;       // the first 8 bytes were our own request, heard back
    std::optional<Reading> reading; // set when decoded
    std::string flowText;           // set when decoded
    std::string totalText;          // set when decoded
    bool checkValueOk = false;      // meaningful when decoded

    // The bytes the outcome was decided on: what came after the echo.
    Bytes reply() const;
};

// Turns every byte that arrived after a request into one outcome.
ReadOutcome decodeReply(const Bytes& received);

// The same, for what arrived after sending `request`. Many RS-485 adapters hear their own
// transmission, so the reply comes behind an exact copy of the request: those bytes are removed
// before the outcome is decided, and nothing behind them is no data (the instrument did not
// answer). A reply itself never begins with the request: its third byte is the byte count 0x0C
// where a read request has 0x01.
ReadOutcome decodeAnswer(const Bytes& request, const Bytes& received);

// The display texts of a reading: the flow with its decimal point, and the total as the high
// part's digits (none when it is 0) directly followed by the low part with its decimal point.
std::string flowText(const Reading& reading);
std::string totalText(const Reading& reading);

// The instrument's 17-byte reply carrying `reading`: address, function 3, byte count 12, the
// twelve data bytes, then CRC-16/MODBUS over the first 15 bytes, low byte first.
Bytes encodeReply(std::uint8_t address, const Reading& reading);

} // namespace darq
