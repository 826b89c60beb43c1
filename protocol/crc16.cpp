#include "protocol/crc16.h"

namespace darq {

std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t size) {
    // The register is worked as two 8-bit halves: each shift moves bit 0 of the high half into
    // bit 7 of the low half, and the polynomial 0xA001 is 0xA0 on the high half, 0x01 on the low.
    std::uint8_t high = 0xFF;
    std::uint8_t low = 0xFF;
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t work = low ^ data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carryIntoLow = (high & 0x01) != 0;
            const bool feedback = (work & 0x01) != 0;
            std::uint8_t newHigh = high >> 1;
            std::uint8_t newLow =
                static_cast<std::uint8_t>((work >> 1) | (carryIntoLow ? 0x80 : 0));
            if (feedback) {
                newLow ^= 0x01;
                newHigh ^= 0xA0;
            }
            work = newLow;
            high = newHigh;
        }
        low = work;
    }
    return static_cast<std::uint16_t>(high << 8 | low);
}

bool endsWithValidCheckValue(const Bytes& frame) {
    if (frame.size() < 3) {
        return false;
    }
    const std::uint16_t check = crc16Modbus(frame.data(), frame.size() - 2);
    return frame[frame.size() - 2] == (check & 0xFF) && frame[frame.size() - 1] == (check >> 8);
}

int CRC16(const Bytes& data, std::uint8_t n) {
    const std::uint16_t value = crc16Modbus(data.data(), data.size());
    return n == 0 ? (value & 0xFF) : (value >> 8);
}

} // namespace darq
