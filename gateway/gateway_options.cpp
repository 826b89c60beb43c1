#include "gateway/gateway_options.h"

#include "protocol/number_list.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mosquitto.h>
#include <sys/stat.h>
#include <unistd.h>

namespace darq {

namespace {

constexpr int kMqttPort = 1883;
constexpr int kMqttsPort = 8883;

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

ParsedBrokerUrl refusedUrl(const std::string& reason) {
    ParsedBrokerUrl parsed;
    parsed.error = reason;
    return parsed;
}

std::string errnoText() {
    return std::strerror(errno);
}

// The last path component, the device's own name: /dev/serial/by-id/usb-FTDI_x gives usb-FTDI_x.
std::string fileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string checkCaFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        return "cannot read the CA file " + quoted(path) + ": " + errnoText();
    }
    return {};
}

std::string checkSpoolPath(const std::string& path) {
    if (path.empty()) {
        return "the spool needs a file name";
    }
    struct stat status {};
    const std::string folder = folderOf(path);
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return "the spool " + quoted(path) +
               " is in a folder that does not exist: " + quoted(folder);
    }
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        return "the spool " + quoted(path) + " is not a plain file";
    }
    return {};
}

struct PasswordFile {
    std::string password;
    std::string error;
};

PasswordFile readPasswordFile(const std::string& path) {
    PasswordFile result;
    std::ifstream file(path);
    if (!file) {
        result.error = "cannot read the password file " + quoted(path) + ": " + errnoText();
        return result;
    }
    std::getline(file, result.password);
    if (!result.password.empty() && result.password.back() == '\r') {
        result.password.pop_back();
    }
    if (result.password.empty()) {
        result.error = "the password file " + quoted(path) + " is empty";
    }
    return result;
}

} // namespace

std::string checkTopicPrefix(const std::string& prefix) {
    if (prefix.empty()) {
        return "the topic prefix must not be empty";
    }
    if (prefix.find_first_of("+#") != std::string::npos) {
        return "the topic prefix " + quoted(prefix) +
               " must not hold + or #: they are wildcards for subscribers";
    }
    if (prefix.back() == '/') {
        return "the topic prefix " + quoted(prefix) + " must not end in /";
    }
    if (mosquitto_validate_utf8(prefix.c_str(), static_cast<int>(prefix.size())) !=
        MOSQ_ERR_SUCCESS) {
        return "the topic prefix " + quoted(prefix) + " is not valid UTF-8 text";
    }
    return {};
}

std::string checkSpoolMax(const std::string& maximum) {
    const std::optional<int> number = parsePlainNumber(maximum);
    if (!number || *number < 1) {
        return "the spool's maximum must be a whole number of records, at least 1, not " +
               quoted(maximum);
    }
    return {};
}

std::string BrokerAddress::url() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return std::string(tls ? "mqtts://" : "mqtt://") + (user.empty() ? "" : user + "@") +
           (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

ParsedBrokerUrl parseBrokerUrl(const std::string& text) {
    const std::string expected = "the broker must be mqtt://[USER@]HOST[:PORT] or "
                                 "mqtts://[USER@]HOST[:PORT], not " +
                                 quoted(text);
    ParsedBrokerUrl parsed;
    BrokerAddress& broker = parsed.broker;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
        broker.port = kMqttPort;
    } else if (text.rfind("mqtts://", 0) == 0) {
        rest = text.substr(8);
        broker.tls = true;
        broker.port = kMqttsPort;
    } else {
        return refusedUrl(expected);
    }
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        broker.user = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (broker.user.find(':') != std::string::npos) {
            return refusedUrl("the broker URL must not hold a password: give it in "
                              "DARQ_MQTT_PASSWORD or --mqtt-password-file");
        }
        if (broker.user.empty()) {
            return refusedUrl(expected);
        }
    }
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            return refusedUrl(expected);
        }
        broker.host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            return refusedUrl(expected);
        }
        port = rest.empty() ? "" : rest.substr(1);
        if (rest == ":") {
            return refusedUrl(expected);
        }
    } else {
        const std::size_t colon = rest.find(':');
        broker.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            if (port.empty()) {
                return refusedUrl(expected);
            }
        }
    }
    if (broker.host.empty() || broker.host.find_first_of("/?# ") != std::string::npos) {
        return refusedUrl(expected);
    }
    if (!port.empty()) {
        const std::optional<int> number = parsePlainNumber(port);
        if (!number || *number < 1 || *number > 65535) {
            return refusedUrl("the broker's port must be a number from 1 to 65535, not " +
                              quoted(port));
        }
        broker.port = *number;
    }
    return parsed;
}

GatewayEnvironment processEnvironment() {
    GatewayEnvironment environment;
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        environment.hostName = host;
    }
    if (const char* password = std::getenv("DARQ_MQTT_PASSWORD")) {
        environment.password = password;
    }
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
        environment.stateDirectory = state;
    }
    return environment;
}

CheckedGatewayOptions checkGatewayOptions(const GatewayOptions& options,
                                          const std::string& devicePath,
                                          const GatewayEnvironment& environment) {
    CheckedGatewayOptions checked;
    GatewaySettings& settings = checked.settings;
    const auto refuse = [&checked](const std::string& reason) {
        checked.error = reason;
        return checked;
    };
    if (options.mqttUrl.empty()) {
        const bool anyGiven = options.topicPrefix || options.caFile || options.passwordFile ||
                              options.spoolPath || options.spoolMax;
        return anyGiven ? refuse("the --mqtt-* and --spool options go with --mqtt") : checked;
    }
    ParsedBrokerUrl url = parseBrokerUrl(options.mqttUrl);
    if (!url.error.empty()) {
        return refuse(url.error);
    }
    settings.broker = url.broker;

    settings.topicPrefix =
        options.topicPrefix.value_or("darq/" + environment.hostName + "/" + fileName(devicePath));
    if (std::string reason = checkTopicPrefix(settings.topicPrefix); !reason.empty()) {
        return refuse(reason);
    }

    if (options.caFile && !settings.broker.tls) {
        return refuse("--mqtt-ca goes with an mqtts:// broker");
    }
    if (settings.broker.tls) {
        if (!options.caFile) {
            return refuse("an mqtts:// broker needs --mqtt-ca FILE, the CA that signed its "
                          "certificate");
        }
        if (std::string reason = checkCaFile(*options.caFile); !reason.empty()) {
            return refuse(reason);
        }
        settings.caFile = *options.caFile;
    }

    if (options.passwordFile) {
        PasswordFile file = readPasswordFile(*options.passwordFile);
        if (!file.error.empty()) {
            return refuse(file.error);
        }
        settings.password = std::move(file.password);
    } else if (environment.password) {
        settings.password = *environment.password;
    }
    if (!settings.password.empty() && settings.broker.user.empty()) {
        return refuse("a password needs a user in the broker URL: mqtt://USER@HOST");
    }

    if (options.spoolPath) {
        settings.spoolPath = options.spoolPath;
    } else if (environment.stateDirectory) {
        // systemd lists several state directories with colons between them; the unit has one.
        const std::string& state = *environment.stateDirectory;
        settings.spoolPath = state.substr(0, state.find(':')) + "/spool";
    }
    if (settings.spoolPath) {
        if (std::string reason = checkSpoolPath(*settings.spoolPath); !reason.empty()) {
            return refuse(reason);
        }
    }

    if (options.spoolMax) {
        if (std::string reason = checkSpoolMax(*options.spoolMax); !reason.empty()) {
            return refuse(reason);
        }
        settings.spoolMax = static_cast<std::size_t>(*parsePlainNumber(*options.spoolMax));
    }
    return checked;
}

} // namespace darq
