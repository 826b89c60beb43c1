// Plays darq-read's part for the gateway's tests: takes the gateway options as darq-read does,
// publishes a made-up record every interval until --count records or SIGTERM/SIGINT, then stops
// the gateway as darq-read does. Prints the number of records it handed over on stdout.
#include "gateway/gateway.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <string>

namespace {

int usageError(const std::string& reason) {
    std::cerr << "gateway-stand-in: " << reason << std::endl;
    return 64;
}

} // namespace

int main(int argc, char* argv[]) {
    std::map<std::string, std::string> given;
    for (int i = 1; i + 1 < argc; i += 2) {
        given[argv[i]] = argv[i + 1];
    }
    if (argc % 2 == 0) {
        return usageError("every option takes a value");
    }
    const auto optional = [&given](const std::string& name) -> std::optional<std::string> {
        const auto found = given.find(name);
        return found == given.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    darq::GatewayOptions options;
    options.mqttUrl = optional("--mqtt").value_or("");
    options.topicPrefix = optional("--mqtt-topic");
    options.caFile = optional("--mqtt-ca");
    options.passwordFile = optional("--mqtt-password-file");
    options.spoolPath = optional("--spool");
    options.spoolMax = optional("--spool-max");
    const int count = std::atoi(optional("--count").value_or("0").c_str());
    const long intervalMs = std::atol(optional("--interval").value_or("20").c_str());

    const darq::CheckedGatewayOptions checked =
        darq::checkGatewayOptions(options, "/dev/ttyTEST0", darq::processEnvironment());
    if (!checked.error.empty()) {
        return usageError(checked.error);
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); // before the gateway's threads exist

    darq::Gateway gateway(checked.settings, [](const std::string& line) {
        std::cerr << "gateway-stand-in: " << line << std::endl;
    });
    if (const std::string error = gateway.start(); !error.empty()) {
        std::cerr << "gateway-stand-in: " << error << std::endl;
        return 2;
    }
    int published = 0;
    for (; count == 0 || published < count; ++published) {
        const timespec interval{intervalMs / 1000, (intervalMs % 1000) * 1000000};
        if (sigtimedwait(&stopSignals, nullptr, &interval) > 0) {
            break;
        }
        gateway.publish(1, "{\"time\":\"" + std::to_string(std::time(nullptr)) +
                               "\",\"address\":1,\"outcome\":\"decoded\",\"flow\":12.50,"
                               "\"total\":" +
                               std::to_string(published) + "}\n");
    }
    gateway.stop();
    std::cout << published << std::endl;
    if (gateway.droppedCount() > 0) {
        std::cerr << "gateway-stand-in: " << gateway.droppedCount() << " records dropped"
                  << std::endl;
    }
    return 0;
}
