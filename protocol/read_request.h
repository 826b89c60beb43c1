#pragma once

#include "protocol/bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace darq {

constexpr int kMinAddress = 0;
constexpr int kMaxAddress = 128;
constexpr std::size_t kRequestLength = 8;

constexpr std::uint8_t kReadRegistersFunction = 0x03;
constexpr std::uint16_t kFirstRegister = 0x0103;
constexpr std::uint16_t kRegisterCount = 3;

using ReadRequest = std::array<std::uint8_t, kRequestLength>;

constexpr bool isValidAddress(int address) {
    return address >= kMinAddress && address <= kMaxAddress;
}

// The read request for the instrument at `address`: address, function 3, first register 0x0103,
// three registers, then the CRC-16 low byte and high byte. No request exists for an address
// outside 0 to 128.
std::optional<ReadRequest> buildReadRequest(int address);

// Whether `frame` is a well-formed read request (eight bytes, function 3, a correct check value).
// The instrument answers nothing else.
bool isReadRequest(const Bytes& frame);

} // namespace darq
