#pragma once

#include <cstdint>
#include <vector>

namespace darq {

// Everything on the line is raw binary: requests, checksum input and replies alike.
using Bytes = std::vector<std::uint8_t>;

} // namespace darq
