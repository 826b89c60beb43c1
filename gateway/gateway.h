#pragma once

#include "gateway/gateway_options.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace darq {

// Publishes darq-read's records to an MQTT broker: PREFIX/<address>/reading gets each record
// with its number "seq" added, PREFIX/status "online" while the gateway is connected and
// "offline" after it (the broker's last will when the gateway dies). A record is spooled before
// it is published and leaves the spool when the broker has acknowledged it, so a broker that is
// away, or a restart, loses nothing: what waits goes out first, in order.
//
// The reading loop only hands records over: the spool's disk and the broker's network are worked
// on two threads of the gateway's own, so that neither a slow disk nor a broker that does not
// answer (a connect that waits for a name lookup or a TCP timeout) delays a reading.
class Gateway {
public:
    // One line for standard error, about the broker or the spool. Called on the gateway's
    // threads, never two at a time.
    using Report = std::function<void(const std::string& line)>;

    Gateway(GatewaySettings settings, Report report);
    ~Gateway(); // stops, if stop() was not called
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Opens the spool and starts reaching for the broker, in the background. Empty, or why the
    // spool cannot be used, naming its file; nothing is started then.
    std::string start();

    // Hands over one record: a JSON object, as darq-read's json format writes it. Never waits on
    // the disk or the network.
    void publish(int address, const std::string& recordJson);

    // For the end of the run: gives the broker, when connected, a moment to acknowledge what is
    // waiting, publishes "offline", and puts the spool on the disk. Whatever the broker has not
    // acknowledged stays in the spool for the next run (and is lost without one).
    void stop();

    // Records pushed out of a full spool (or that could not be written to it), this run.
    std::uint64_t droppedCount() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace darq
