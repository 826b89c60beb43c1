#pragma once

namespace darq {

// One table of exit statuses for darq-read and darq-sim.
constexpr int kExitSuccess = 0;
constexpr int kExitWithoutData = 1; // darq-read: a reading not decoded intact, or nothing found
constexpr int kExitPortUnusable = 2;
constexpr int kExitUsage = 64;      // EX_USAGE
constexpr int kExitOutputLost = 74; // EX_IOERR: readings, log or device path not written

} // namespace darq
