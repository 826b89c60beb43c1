#pragma once

#include "protocol/bytes.h"

#include <cstddef>
#include <cstdint>

namespace darq {

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final inversion) over
// data[0 .. size-1]. The value is high * 256 + low; on the wire the low byte goes first.
std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t size);

// Whether the frame's last two bytes are the check value of the bytes before them, low byte
// first; false for a frame too short to carry one after at least one byte.
bool endsWithValidCheckValue(const Bytes& frame);

// One check byte of CRC-16/MODBUS over every byte of `data`: the low byte when `n` is 0, the high
// byte for any other `n`. Callers that build a frame call it once for each byte.
int CRC16(const Bytes& data, std::uint8_t n);

} // namespace darq
