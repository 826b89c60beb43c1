#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace darq {

// The broker as the --mqtt URL names it. Never holds a password: that comes from the environment
// or a file, so that it does not show in the process list.
struct BrokerAddress {
    bool tls = false; // mqtts://
    std::string user; // empty: none
    std::string host; // an IPv6 address without its brackets
    int port = 0;

    // The broker as messages name it: mqtt://user@host:1883, with the port always written.
    std::string url() const;
};

struct ParsedBrokerUrl {
    BrokerAddress broker; // set when `error` is empty
    std::string error;    // why the URL is refused, in one line
};

// mqtt://[USER@]HOST[:PORT] (1883) or mqtts://[USER@]HOST[:PORT] (8883, TLS).
ParsedBrokerUrl parseBrokerUrl(const std::string& text);

// Empty, or why the topic prefix is refused: empty, with a wildcard (+ or #), ending in /, or not
// UTF-8.
std::string checkTopicPrefix(const std::string& prefix);
// Empty, or why a --spool-max as typed is not a number of records, at least 1.
std::string checkSpoolMax(const std::string& maximum);

// What the gateway options say, as darq-read takes them from its command line or its config
// file, before anything is checked.
struct GatewayOptions {
    std::string mqttUrl{};                     // --mqtt; empty: no publishing
    std::optional<std::string> topicPrefix{};  // --mqtt-topic
    std::optional<std::string> caFile{};       // --mqtt-ca
    std::optional<std::string> passwordFile{}; // --mqtt-password-file
    std::optional<std::string> spoolPath{};    // --spool
    std::optional<std::string> spoolMax{};     // --spool-max, as typed
};

constexpr std::size_t kDefaultSpoolMax = 1000000;

// What the gateway needs to run, every option checked.
struct GatewaySettings {
    BrokerAddress broker;
    std::string caFile;      // mqtts only: the CA that signed the broker's certificate
    std::string password;    // empty: none
    std::string topicPrefix; // records go to PREFIX/<address>/reading, the state to PREFIX/status
    std::optional<std::string> spoolPath{}; // none: unacknowledged records wait in memory
    std::size_t spoolMax = kDefaultSpoolMax;
};

// What the process was started with, that the defaults come from.
struct GatewayEnvironment {
    std::string hostName;
    std::optional<std::string> password;       // DARQ_MQTT_PASSWORD
    std::optional<std::string> stateDirectory; // STATE_DIRECTORY, set by systemd
};

GatewayEnvironment processEnvironment();

struct CheckedGatewayOptions {
    GatewaySettings settings; // set when `error` is empty
    std::string error;        // the first thing wrong, in one line naming the value or file
};

// Checks the options and reads the password file without opening the spool or reaching out to
// the broker, so that a typing mistake ends darq-read before it touches anything. `devicePath`
// gives the default topic its last part.
CheckedGatewayOptions checkGatewayOptions(const GatewayOptions& options,
                                          const std::string& devicePath,
                                          const GatewayEnvironment& environment);

} // namespace darq
