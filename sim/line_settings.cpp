#include "sim/line_settings.h"

#include <array>
#include <utility>

namespace darq::sim {

namespace {

const std::array<std::pair<int, speed_t>, 14> kStandardRates = {{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {921600, B921600},
}};

int dataBitsOf(tcflag_t controlFlags) {
    switch (controlFlags & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

} // namespace

std::string LineSettings::text() const {
    const std::string rate = baudRate > 0 ? std::to_string(baudRate) : "?";
    return rate + " " + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

LineSettings lineSettingsOf(const termios& attributes) {
    LineSettings settings;
    settings.baudRate = baudRateOf(cfgetospeed(&attributes));
    settings.dataBits = dataBitsOf(attributes.c_cflag);
    if ((attributes.c_cflag & PARENB) == 0) {
        settings.parity = 'N';
    } else {
        settings.parity = (attributes.c_cflag & PARODD) != 0 ? 'O' : 'E';
    }
    settings.stopBits = (attributes.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return settings;
}

std::optional<speed_t> speedOf(int baudRate) {
    for (const auto& [rate, speed] : kStandardRates) {
        if (rate == baudRate) {
            return speed;
        }
    }
    return std::nullopt;
}

int baudRateOf(speed_t speed) {
    for (const auto& [rate, standardSpeed] : kStandardRates) {
        if (standardSpeed == speed) {
            return rate;
        }
    }
    return 0;
}

void makeInstrumentLine(termios& attributes, speed_t speed) {
    cfmakeraw(&attributes);
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CRTSCTS);
    attributes.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    attributes.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    cfsetispeed(&attributes, speed);
    cfsetospeed(&attributes, speed);
}

} // namespace darq::sim
