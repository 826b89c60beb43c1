#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace darq {

enum class Parity { None, Even, Odd, Mark, Space };

// The line parameters of a serial port, written as text "baud,parity,data bits,stop bits",
// for example "9600,n,8,2".
struct LineSettings {
    int baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 2;

    bool operator==(const LineSettings& other) const;
};

// The kernel's RS-485 mode for a UART whose transmitter is switched by RTS: RTS goes on for each
// send and off after it, so that the instrument's reply finds the bus free. Adapters that switch
// by themselves (most USB ones) have no such mode and need none.
struct Rs485Mode {
    int delayBeforeSendMs = 0; // RTS on, then this long before the first bit
    int delayAfterSendMs = 0;  // after the last bit, this long before RTS goes off
};

// The kernel takes at most this delay before or after sending.
inline constexpr int kLongestRs485DelayMs = 100;

// What the instrument's line starts with, and what any rate list position but 0, 1 and 2 gives.
inline constexpr std::string_view kDefaultSettings = "9600,n,8,2";

struct ParsedLineSettings {
    std::optional<LineSettings> settings; // set when the text is well formed
    std::string error;                    // why it is not, otherwise
};

// Parses and checks a settings text. Accepted: a standard baud rate from 110 to 115200, parity
// n, e, o, m or s (either case), 5 to 8 data bits, 1 or 2 stop bits, no blanks.
ParsedLineSettings parseLineSettings(std::string_view text);

std::string formatLineSettings(const LineSettings& settings);

// The settings text for a position of the window's rate list: 0 -> "1200,n,8,2",
// 1 -> "2400,n,8,2", 2 -> "4800,n,8,2", anything else (no selection included) -> "9600,n,8,2".
std::string settingsForRatePosition(int position);

} // namespace darq
