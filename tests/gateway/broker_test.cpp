#include "broker_process.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace darq::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kPatience = seconds(30); // a busy two-core machine runs other tests beside these
const std::string kPrefix = "darq-test/line1";

// The seq of every record a subscriber printed ("topic payload" lines), in arrival order.
std::vector<int> sequenceNumbers(const std::string& received) {
    static const std::regex record(R"(^\S+/reading \{.*"seq":(\d+)\}$)");
    std::vector<int> seqs;
    std::istringstream lines(received);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, record)) {
            seqs.push_back(std::stoi(match[1]));
        }
    }
    return seqs;
}

std::vector<int> oneTo(int last) {
    std::vector<int> seqs(static_cast<std::size_t>(last));
    for (int i = 0; i < last; ++i) {
        seqs[static_cast<std::size_t>(i)] = i + 1;
    }
    return seqs;
}

// Every number once, in the order first received: a record the broker had and the gateway sent
// again after a broken connection comes twice, which the consumer drops by its seq.
std::vector<int> firstArrivals(const std::vector<int>& seqs) {
    std::vector<int> first;
    std::set<int> seen;
    for (const int seq : seqs) {
        if (seen.insert(seq).second) {
            first.push_back(seq);
        }
    }
    return first;
}

class GatewayWithBroker : public ::testing::Test {
protected:
    std::unique_ptr<ChildProcess> standIn(const std::string& url,
                                          const std::vector<std::string>& extra,
                                          const std::string& name,
                                          const std::vector<std::string>& environment = {}) {
        std::vector<std::string> arguments = {DARQ_GATEWAY_STAND_IN, "--mqtt", url, "--mqtt-topic",
                                              kPrefix};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(arguments, folder_.file(name), environment);
    }

    // mosquitto_sub on the broker's plain port, on a topic under the test's prefix.
    static std::vector<std::string> subscriberArguments(const Broker& broker,
                                                        const std::string& topic,
                                                        const std::vector<std::string>& extra) {
        std::vector<std::string> arguments = {
            "/usr/bin/mosquitto_sub",      "-h", "127.0.0.1",    "-p",
            std::to_string(broker.port()), "-t", kPrefix + topic};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    // A subscriber with a session the broker keeps, so that it misses nothing while either of
    // them restarts.
    std::unique_ptr<ChildProcess> subscribe(const Broker& broker,
                                            const std::vector<std::string>& credentials = {}) {
        std::vector<std::string> options = {"-v", "-q", "1", "-c", "-i", "darq-test-subscriber"};
        options.insert(options.end(), credentials.begin(), credentials.end());
        auto subscriber = std::make_unique<ChildProcess>(subscriberArguments(broker, "/#", options),
                                                         folder_.file("subscriber"));
        EXPECT_TRUE(eventually(
            [&] {
                return readFile(folder_.file("mosquitto.err")).find("as darq-test-subscriber") !=
                       std::string::npos;
            },
            kPatience));
        return subscriber;
    }

    // The status the broker keeps for new subscribers.
    std::string retainedStatus(const Broker& broker) {
        ChildProcess reader(subscriberArguments(broker, "/status", {"-C", "1", "-W", "2"}),
                            folder_.file("status"));
        reader.wait(seconds(10));
        std::string status = reader.output();
        return status.substr(0, status.find('\n'));
    }

    TemporaryFolder folder_;
};

TEST_F(GatewayWithBroker, EveryRecordArrivesOnceInOrderAndTheNumberingGoesOnAcrossRuns) {
    Broker broker(folder_);
    broker.start();
    const auto subscriber = subscribe(broker);
    const std::vector<std::string> run = {"--spool", folder_.file("spool"), "--interval", "5"};
    for (const char* count : {"20", "5"}) {
        auto gateway =
            standIn(broker.url(), {run[0], run[1], run[2], run[3], "--count", count}, "gateway");
        EXPECT_EQ(gateway->wait(kPatience), 0) << gateway->errors();
        EXPECT_EQ(gateway->output(), std::string(count) + "\n");
    }
    EXPECT_TRUE(
        eventually([&] { return sequenceNumbers(subscriber->output()).size() >= 25; }, kPatience));
    EXPECT_EQ(sequenceNumbers(subscriber->output()), oneTo(25)) << subscriber->output();
    EXPECT_NE(subscriber->output().find(kPrefix + "/1/reading {\"time\":"), std::string::npos);
}

TEST_F(GatewayWithBroker, ABrokerAwayForSecondsCostsNoRecord) {
    Broker broker(folder_);
    broker.start();
    const auto subscriber = subscribe(broker);
    auto gateway =
        standIn(broker.url(), {"--spool", folder_.file("spool"), "--interval", "20"}, "gateway");
    ASSERT_TRUE(
        eventually([&] { return sequenceNumbers(subscriber->output()).size() >= 5; }, kPatience));
    broker.stop();
    std::this_thread::sleep_for(seconds(3));
    broker.start();
    ASSERT_TRUE(eventually(
        [&] { return gateway->errors().find("is back after") != std::string::npos; }, kPatience))
        << gateway->errors();
    gateway->signal(SIGTERM);
    ASSERT_EQ(gateway->wait(kPatience), 0);
    const int published = std::stoi(gateway->output());
    EXPECT_TRUE(eventually(
        [&] {
            return firstArrivals(sequenceNumbers(subscriber->output())).size() >=
                   static_cast<std::size_t>(published);
        },
        kPatience));
    EXPECT_EQ(firstArrivals(sequenceNumbers(subscriber->output())), oneTo(published));
    const std::string errors = gateway->errors();
    EXPECT_NE(errors.find("lost the MQTT broker " + broker.url() + ": "), std::string::npos)
        << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors; // gone, back
}

TEST_F(GatewayWithBroker, WhatWasSpooledWhileTheBrokerWasAwayGoesOutFirstOnTheNextRun) {
    Broker broker(folder_);
    const std::vector<std::string> run = {"--spool", folder_.file("spool"), "--interval", "5"};
    auto away = standIn(broker.url(), {run[0], run[1], run[2], run[3], "--count", "10"}, "away");
    EXPECT_EQ(away->wait(kPatience), 0);
    EXPECT_NE(away->errors().find("cannot reach the MQTT broker " + broker.url() +
                                  ": Connection refused; records wait in the spool"),
              std::string::npos)
        << away->errors();

    broker.start();
    const auto subscriber = subscribe(broker);
    auto back = standIn(broker.url(), {run[0], run[1], run[2], run[3], "--count", "3"}, "back");
    EXPECT_EQ(back->wait(kPatience), 0);
    EXPECT_TRUE(
        eventually([&] { return sequenceNumbers(subscriber->output()).size() >= 13; }, kPatience));
    EXPECT_EQ(sequenceNumbers(subscriber->output()), oneTo(13)) << subscriber->output();
}

TEST_F(GatewayWithBroker, OfflineIsRetainedAfterACleanStopAndIsTheLastWillAfterAKill) {
    Broker broker(folder_);
    broker.start();
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        auto gateway = standIn(broker.url(), {"--interval", "50"}, "gateway");
        EXPECT_TRUE(eventually([&] { return retainedStatus(broker) == "online"; }, kPatience));
        gateway->signal(signal);
        gateway->wait(kPatience);
        EXPECT_TRUE(eventually([&] { return retainedStatus(broker) == "offline"; }, kPatience));
    }
}

TEST_F(GatewayWithBroker, ThePasswordComesFromAFileOrTheEnvironmentNeverTheCommandLine) {
    const std::string passwords = folder_.file("passwords");
    ChildProcess makePasswords(
        {"/usr/bin/mosquitto_passwd", "-b", "-c", passwords, "plant", "pump-room-7"},
        folder_.file("mosquitto_passwd"));
    ASSERT_EQ(makePasswords.wait(kPatience), 0) << makePasswords.errors();
    Broker broker(folder_, "allow_anonymous false\npassword_file " + passwords + "\n");
    broker.start();
    const auto subscriber = subscribe(broker, {"-u", "plant", "-P", "pump-room-7"});
    writeFile(folder_.file("password"), "pump-room-7\n");
    const std::string url = "mqtt://plant@127.0.0.1:" + std::to_string(broker.port());

    auto fromFile = standIn(
        url, {"--mqtt-password-file", folder_.file("password"), "--interval", "50"}, "from-file");
    EXPECT_TRUE(
        eventually([&] { return !sequenceNumbers(subscriber->output()).empty(); }, kPatience))
        << fromFile->errors();
    const std::string commandLine =
        readFile("/proc/" + std::to_string(fromFile->pid()) + "/cmdline");
    EXPECT_NE(commandLine.find("--mqtt-password-file"), std::string::npos);
    EXPECT_EQ(commandLine.find("pump-room-7"), std::string::npos);
    fromFile.reset();

    const struct {
        const char* password;
        const char* refusal; // empty: accepted
    } cases[] = {{"pump-room-7", ""}, {"pump-room-8", "not authorised"}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.password);
        auto gateway = standIn(url, {"--count", "1", "--interval", "1"}, "from-environment",
                               {std::string("DARQ_MQTT_PASSWORD=") + row.password});
        EXPECT_EQ(gateway->wait(kPatience), 0);
        if (*row.refusal == '\0') {
            EXPECT_EQ(gateway->errors(), "");
        } else {
            EXPECT_NE(gateway->errors().find("cannot reach the MQTT broker " + url),
                      std::string::npos);
            EXPECT_NE(gateway->errors().find(row.refusal), std::string::npos) << gateway->errors();
        }
    }
}

// A CA and a broker certificate for "localhost" made for the test, and a second CA that signed
// nothing.
void makeCertificates(const TemporaryFolder& folder) {
    const std::string openssl = "/usr/bin/openssl";
    const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};
    const auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), openssl);
        ChildProcess step(arguments, folder.file("openssl"));
        ASSERT_EQ(step.wait(kPatience), 0) << step.errors();
    };
    for (const char* ca : {"ca", "other-ca"}) {
        std::vector<std::string> arguments = {"req",     "-x509",
                                              "-days",   "2",
                                              "-subj",   std::string("/CN=darq test ") + ca,
                                              "-keyout", folder.file(std::string(ca) + ".key"),
                                              "-out",    folder.file(std::string(ca) + ".pem")};
        arguments.insert(arguments.end(), key.begin(), key.end());
        run(arguments);
    }
    std::vector<std::string> request = {"req",
                                        "-subj",
                                        "/CN=localhost",
                                        "-keyout",
                                        folder.file("broker.key"),
                                        "-out",
                                        folder.file("broker.csr")};
    request.insert(request.end(), key.begin(), key.end());
    run(request);
    writeFile(folder.file("broker.ext"), "subjectAltName=DNS:localhost\n");
    run({"x509", "-req", "-days", "2", "-in", folder.file("broker.csr"), "-CA",
         folder.file("ca.pem"), "-CAkey", folder.file("ca.key"), "-CAcreateserial", "-extfile",
         folder.file("broker.ext"), "-out", folder.file("broker.pem")});
}

TEST_F(GatewayWithBroker, TlsTakesTheBrokerSignedByTheGivenCaUnderItsOwnNameAndNoOther) {
    makeCertificates(folder_);
    if (HasFatalFailure()) {
        return;
    }
    const int tlsPort = freeLoopbackPort();
    Broker broker(folder_, "listener " + std::to_string(tlsPort) + " 127.0.0.1\ncafile " +
                               folder_.file("ca.pem") + "\ncertfile " + folder_.file("broker.pem") +
                               "\nkeyfile " + folder_.file("broker.key") + "\n");
    broker.start();
    ASSERT_TRUE(portAnswers(tlsPort, kPatience));
    const auto subscriber = subscribe(broker);
    const std::string port = std::to_string(tlsPort);
    const struct {
        std::string url;
        std::string ca;
        const char* refusal; // empty: accepted
    } cases[] = {
        {"mqtts://localhost:" + port, folder_.file("ca.pem"), ""},
        {"mqtts://localhost:" + port, folder_.file("other-ca.pem"), "certificate verify failed"},
        {"mqtts://127.0.0.1:" + port, folder_.file("ca.pem"), "certificate verify failed"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.url + " " + row.ca);
        auto gateway =
            standIn(row.url, {"--mqtt-ca", row.ca, "--count", "1", "--interval", "1"}, "gateway");
        EXPECT_EQ(gateway->wait(kPatience), 0);
        if (*row.refusal == '\0') {
            EXPECT_EQ(gateway->errors(), "");
            EXPECT_TRUE(eventually(
                [&] { return sequenceNumbers(subscriber->output()) == oneTo(1); }, kPatience));
        } else {
            EXPECT_NE(gateway->errors().find("cannot reach the MQTT broker " + row.url),
                      std::string::npos)
                << gateway->errors();
            EXPECT_NE(gateway->errors().find(row.refusal), std::string::npos) << gateway->errors();
        }
    }
}

} // namespace
} // namespace darq::testing
