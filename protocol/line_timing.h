#pragma once

#include <chrono>
#include <cstddef>

namespace darq {

// The line always runs 8 data bits, no parity and 2 stop bits: with the start bit a byte takes
// 11 bit times on the wire.
constexpr int kBitsPerByte = 11;

// Time the given number of bytes take on the wire at `baudRate`, in milliseconds.
double wireTimeMs(std::size_t byteCount, int baudRate);

// Three and a half character times at `baudRate`, rounded up: the quiet on the line that ends a
// frame on an RTU bus. Each side sets its own floor under it.
std::chrono::microseconds characterGap(int baudRate);

// What an instrument is allowed, after the request has left, to start its reply.
constexpr int kTurnaroundAllowanceMs = 50;

// The longest one exchange can take at `baudRate`: request and reply on the wire plus the
// allowance for the instrument to turn round.
int attemptBudgetMs(int baudRate);

// How long to wait after sending a read request before taking the reply: the request and the
// 17-byte reply on the wire plus 50 ms for the instrument to turn round, never less than 100 ms.
// At 9600 baud that is 100 ms; at 1200 baud it is 280 ms, where a fixed 100 ms would end before
// the reply could have arrived.
int settleTimeMs(int baudRate);

} // namespace darq
