#pragma once

#include <optional>
#include <string>
#include <termios.h>

namespace darq::sim {

// The line as the terminal settings describe it: rate and character frame.
struct LineSettings {
    int baudRate = 0; // 0 when the rate is not one of the standard ones
    int dataBits = 8;
    char parity = 'N'; // 'N', 'E' or 'O'
    int stopBits = 2;

    // The instrument talks 8 data bits, no parity, 2 stop bits only.
    bool isInstrumentFrame() const { return dataBits == 8 && parity == 'N' && stopBits == 2; }
    // "9600 8N2"; "? 8N2" for a rate that is not a standard one.
    std::string text() const;
};

LineSettings lineSettingsOf(const termios& attributes);

// The standard rate constant for a rate in baud, and back.
std::optional<speed_t> speedOf(int baudRate);
int baudRateOf(speed_t speed);

// Raw binary, 8 data bits, no parity, 2 stop bits at the given standard rate, as the instrument's
// own port runs.
void makeInstrumentLine(termios& attributes, speed_t speed);

} // namespace darq::sim
