#include "gateway/service_notifier.h"

#include <systemd/sd-daemon.h>

namespace darq {

ServiceNotifier::ServiceNotifier() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_ = std::chrono::microseconds(usec);
    }
}

void ServiceNotifier::ready() {
    sd_notify(0, "READY=1");
}

void ServiceNotifier::alive() {
    if (!watchdog_) {
        return;
    }
    // A datagram to systemd per reading would be a system call per reading for nothing.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAlive_ < *watchdog_ / 4) {
        return;
    }
    lastAlive_ = now;
    sd_notify(0, "WATCHDOG=1");
}

void ServiceNotifier::stopping() {
    sd_notify(0, "STOPPING=1");
}

std::optional<std::chrono::milliseconds> ServiceNotifier::alivePeriod() const {
    if (!watchdog_) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(*watchdog_ / 2);
}

} // namespace darq
