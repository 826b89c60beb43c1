#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace darq {

// Everything on the line is raw binary: requests, checksum input and replies alike.
using Bytes = std::vector<std::uint8_t>;

// The bytes as the line's logs and traces show them: "01 03 0C ...", empty for no bytes.
std::string hexText(const Bytes& bytes);

} // namespace darq
