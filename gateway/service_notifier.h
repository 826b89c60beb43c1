#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace darq {

// Tells systemd how darq-read is doing when it runs as a Type=notify service; does nothing
// otherwise. The reading loop calls alive() as it goes: a loop that hangs stops calling it, and
// systemd restarts the service when WatchdogSec passes without one.
class ServiceNotifier {
public:
    ServiceNotifier();

    void ready();    // the port is open and the first cycle is under way
    void alive();    // WATCHDOG=1, at most a few times per watchdog period however often called
    void stopping(); // a clean stop has begun

    // Half the watchdog period, for a timer in the reading loop that keeps alive() coming when
    // cycles are further apart than the watchdog allows; none without a watchdog.
    std::optional<std::chrono::milliseconds> alivePeriod() const;

private:
    std::optional<std::chrono::microseconds> watchdog_;
    std::chrono::steady_clock::time_point lastAlive_{};
};

} // namespace darq
