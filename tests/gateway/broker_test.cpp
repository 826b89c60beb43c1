#include "broker_process.h"
#include "sim_process.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// darq-read as a plant runs it: a paced virtual instrument on a pseudo-terminal, read every 50 ms
// and published to a mosquitto of the test's own.
class GatewayWithBroker : public ::testing::Test {
protected:
    std::unique_ptr<Program> darqRead(const std::string& device, const std::string& url,
                                      const std::vector<std::string>& extra,
                                      const std::string& name,
                                      const std::vector<std::string>& environment = {}) {
        // A generous timeout: on a loaded machine the instrument's reply may come late.
        std::vector<std::string> arguments = {
            DARQ_READ_PATH, "--port", device,   "--timeout", "1000",         "--interval", "50",
            "-f",           "json",   "--mqtt", url,         "--mqtt-topic", kPrefix};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return std::make_unique<Program>(arguments, folder_.file(name), environment);
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
    std::unique_ptr<Program> subscribe(const Broker& broker,
                                       const std::vector<std::string>& credentials = {}) {
        std::vector<std::string> options = {"-v", "-q", "1", "-c", "-i", "darq-test-subscriber"};
        options.insert(options.end(), credentials.begin(), credentials.end());
        auto subscriber = std::make_unique<Program>(subscriberArguments(broker, "/#", options),
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
        Program reader(subscriberArguments(broker, "/status", {"-C", "1", "-W", "2"}),
                       folder_.file("status"));
        reader.wait(seconds(10));
        std::string status = reader.output();
        return status.substr(0, status.find('\n'));
    }

    // Waits until the subscriber has every record from 1 to `last`, and gives the numbers as
    // first received: a record the broker had and darq-read sent again after a broken
    // connection comes twice, which the consumer drops by its seq.
    std::vector<int> receivedUpTo(const Program& subscriber, std::size_t last) {
        eventually(
            [&] { return firstArrivals(sequenceNumbers(subscriber.output())).size() >= last; },
            kPatience);
        return firstArrivals(sequenceNumbers(subscriber.output()));
    }

    TemporaryFolder folder_;
};

TEST_F(GatewayWithBroker, EveryReadingArrivesAsPrintedWithConsecutiveNumbersAcrossRuns) {
    SimProcess sim;
    Broker broker(folder_);
    broker.start();
    const auto subscriber = subscribe(broker);
    std::string printed;
    for (const char* count : {"20", "5"}) {
        auto reader = darqRead(sim.devicePath(), broker.url(),
                               {"--count", count, "--spool", folder_.file("spool")}, "darq-read");
        EXPECT_EQ(reader->wait(kPatience), 0) << reader->errors();
        EXPECT_EQ(lineCount(reader->output()), std::stoul(count)) << reader->output();
        printed += reader->output();
    }
    EXPECT_EQ(receivedUpTo(*subscriber, 25), oneTo(25)) << subscriber->output();
    // The record as --format json prints it, with its number last.
    const std::string first = printed.substr(0, printed.find('\n'));
    EXPECT_NE(subscriber->output().find(kPrefix + "/1/reading " +
                                        first.substr(0, first.size() - 1) + ",\"seq\":1}\n"),
              std::string::npos)
        << subscriber->output();
}

TEST_F(GatewayWithBroker, ABrokerAwayForSecondsCostsNoReading) {
    SimProcess sim;
    Broker broker(folder_);
    broker.start();
    const auto subscriber = subscribe(broker);
    auto reader = darqRead(sim.devicePath(), broker.url(),
                           {"--count", "0", "--spool", folder_.file("spool")}, "darq-read");
    ASSERT_TRUE(
        eventually([&] { return sequenceNumbers(subscriber->output()).size() >= 5; }, kPatience));
    broker.stop();
    std::this_thread::sleep_for(seconds(4));
    broker.start();
    ASSERT_TRUE(eventually(
        [&] { return reader->errors().find("is back after") != std::string::npos; }, kPatience))
        << reader->errors();
    reader->signal(SIGTERM);
    ASSERT_EQ(reader->wait(kPatience), 0) << reader->errors();
    const std::size_t readings = lineCount(reader->output());
    EXPECT_EQ(receivedUpTo(*subscriber, readings), oneTo(static_cast<int>(readings)));
    EXPECT_NE(reader->errors().find("lost the MQTT broker " + broker.url() + ": "),
              std::string::npos)
        << reader->errors();
}

TEST_F(GatewayWithBroker, WhatWasSpooledWhenStoppedWithTheBrokerAwayGoesOutOnTheNextRun) {
    SimProcess sim;
    Broker broker(folder_);
    auto away = darqRead(sim.devicePath(), broker.url(),
                         {"--count", "0", "--quiet", "--spool", folder_.file("spool")}, "away");
    ASSERT_TRUE(eventually(
        [&] { return away->errors().find("records wait in the spool") != std::string::npos; },
        kPatience))
        << away->errors();
    std::this_thread::sleep_for(seconds(1));
    away->signal(SIGTERM);
    ASSERT_EQ(away->wait(kPatience), 0) << away->errors();
    EXPECT_EQ(away->output(), ""); // --quiet
    const std::regex summary("summary: reads (\\d+) ");
    std::smatch match;
    const std::string errors = away->errors();
    ASSERT_TRUE(std::regex_search(errors, match, summary)) << errors;
    const int spooled = std::stoi(match[1]);

    broker.start();
    const auto subscriber = subscribe(broker);
    auto back = darqRead(sim.devicePath(), broker.url(),
                         {"--count", "3", "--spool", folder_.file("spool")}, "back");
    EXPECT_EQ(back->wait(kPatience), 0) << back->errors();
    const auto last = static_cast<std::size_t>(spooled + 3);
    EXPECT_EQ(receivedUpTo(*subscriber, last), oneTo(spooled + 3)) << subscriber->output();
}

TEST_F(GatewayWithBroker, AnInstrumentThatComesBackOnItsLinkIsReadAgainAfterPortLostRecords) {
    const std::string link = folder_.file("com1");
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    Broker broker(folder_);
    broker.start();
    const auto subscriber = subscribe(broker);
    auto reader =
        darqRead(link, broker.url(), {"--count", "0", "--reconnect", "--quiet"}, "darq-read");
    const auto received = [&](const std::regex& pattern) {
        return eventually([&] { return std::regex_search(subscriber->output(), pattern); },
                          kPatience);
    };
    ASSERT_TRUE(received(std::regex("\"outcome\":\"decoded\"")));
    sim->kill();
    sim.reset();
    ASSERT_TRUE(received(std::regex("\"outcome\":\"port-lost\"")));
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    EXPECT_TRUE(received(std::regex("\"outcome\":\"port-lost\"[^\\n]*\\n(.*\\n)*.*"
                                    "\"outcome\":\"decoded\"")))
        << subscriber->output();
    reader->signal(SIGTERM);
    EXPECT_EQ(reader->wait(kPatience), 0) << reader->errors();
}

TEST_F(GatewayWithBroker, RecordsPushedOutOfAFullSpoolAreCountedInTheSummary) {
    SimProcess sim;
    Broker away(folder_);
    auto reader =
        darqRead(sim.devicePath(), away.url(),
                 {"--count", "10", "--quiet", "--spool", folder_.file("spool"), "--spool-max", "3"},
                 "darq-read");
    EXPECT_EQ(reader->wait(kPatience), 0) << reader->errors();
    EXPECT_NE(reader->errors().find("summary: 7 records dropped by the gateway"), std::string::npos)
        << reader->errors();
}

// systemd's side of Type=notify and WatchdogSec: a datagram socket named by NOTIFY_SOCKET.
TEST_F(GatewayWithBroker, SystemdHearsReadyAliveThroughALongIntervalAndStopping) {
    const std::string path = folder_.file("notify");
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(notify, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const auto receive = [notify](int timeoutMs) {
        pollfd ready{notify, POLLIN, 0};
        char message[256] = {};
        if (::poll(&ready, 1, timeoutMs) != 1 ||
            ::recv(notify, message, sizeof message - 1, 0) < 0) {
            return std::string();
        }
        return std::string(message);
    };
    SimProcess sim;
    Broker away(folder_);
    // A watchdog of 0.6 s and a cycle every 5 s: only the timer keeps it fed between readings.
    auto reader =
        darqRead(sim.devicePath(), away.url(), {"--count", "0", "--interval", "5000", "--quiet"},
                 "darq-read", {"NOTIFY_SOCKET=" + path, "WATCHDOG_USEC=600000"});
    std::vector<std::string> heard;
    const auto until = std::chrono::steady_clock::now() + seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        if (std::string message = receive(100); !message.empty()) {
            heard.push_back(message);
        }
    }
    reader->signal(SIGTERM);
    EXPECT_EQ(reader->wait(kPatience), 0) << reader->errors();
    for (std::string message = receive(1000); !message.empty(); message = receive(1000)) {
        heard.push_back(message);
    }
    ::close(notify);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), "READY=1");
    EXPECT_GE(std::count(heard.begin(), heard.end(), "WATCHDOG=1"), 5);
    EXPECT_EQ(heard.back(), "STOPPING=1");
}

TEST_F(GatewayWithBroker, OfflineIsRetainedAfterACleanStopAndIsTheLastWillAfterAKill) {
    SimProcess sim;
    Broker broker(folder_);
    broker.start();
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        auto reader = darqRead(sim.devicePath(), broker.url(), {"--count", "0"}, "darq-read");
        EXPECT_TRUE(eventually([&] { return retainedStatus(broker) == "online"; }, kPatience));
        reader->signal(signal);
        reader->wait(kPatience);
        EXPECT_TRUE(eventually([&] { return retainedStatus(broker) == "offline"; }, kPatience));
    }
}

TEST_F(GatewayWithBroker, ThePasswordComesFromAFileOrTheEnvironmentNeverTheCommandLine) {
    SimProcess sim;
    const std::string passwords = folder_.file("passwords");
    Program makePasswords(
        {"/usr/bin/mosquitto_passwd", "-b", "-c", passwords, "plant", "pump-room-7"},
        folder_.file("mosquitto_passwd"));
    ASSERT_EQ(makePasswords.wait(kPatience), 0) << makePasswords.errors();
    Broker broker(folder_, "allow_anonymous false\npassword_file " + passwords + "\n");
    broker.start();
    const auto subscriber = subscribe(broker, {"-u", "plant", "-P", "pump-room-7"});
    writeFile(folder_.file("password"), "pump-room-7\n");
    const std::string url = "mqtt://plant@127.0.0.1:" + std::to_string(broker.port());

    auto fromFile =
        darqRead(sim.devicePath(), url,
                 {"--count", "0", "--mqtt-password-file", folder_.file("password")}, "from-file");
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
        auto reader = darqRead(sim.devicePath(), url, {"--count", "1"}, "from-environment",
                               {std::string("DARQ_MQTT_PASSWORD=") + row.password});
        EXPECT_EQ(reader->wait(kPatience), 0);
        if (*row.refusal == '\0') {
            EXPECT_EQ(reader->errors(), "");
        } else {
            EXPECT_NE(reader->errors().find("cannot reach the MQTT broker " + url),
                      std::string::npos);
            EXPECT_NE(reader->errors().find(row.refusal), std::string::npos) << reader->errors();
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
        Program step(arguments, folder.file("openssl"));
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
    SimProcess sim;
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
        auto reader =
            darqRead(sim.devicePath(), row.url, {"--mqtt-ca", row.ca, "--count", "1"}, "tls");
        EXPECT_EQ(reader->wait(kPatience), 0);
        if (*row.refusal == '\0') {
            EXPECT_EQ(reader->errors(), "");
            EXPECT_TRUE(eventually(
                [&] { return sequenceNumbers(subscriber->output()) == oneTo(1); }, kPatience));
        } else {
            EXPECT_NE(reader->errors().find("cannot reach the MQTT broker " + row.url),
                      std::string::npos)
                << reader->errors();
            EXPECT_NE(reader->errors().find(row.refusal), std::string::npos) << reader->errors();
        }
    }
}

// Each mistake ends darq-read with status 64 and a message naming it before anything is opened:
// the port named does not exist, so a run that got as far as opening it would end with status 2.
TEST_F(GatewayWithBroker, ABadGatewayOptionEndsTheRunBeforeAnythingIsOpened) {
    writeFile(folder_.file("bad.conf"), "# a gateway\nport = " + folder_.file("ttyNONE") +
                                            "\nmqtt = mqtt://127.0.0.1\nspool-max = lots\n");
    writeFile(folder_.file("unknown.conf"), "mqtt = mqtt://127.0.0.1\n\nbroker = x\n");
    const std::string missing = folder_.file("missing");
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--mqtt", "http://127.0.0.1"}, "the broker must be mqtt://"},
        {{"--mqtt", "mqtt://127.0.0.1:65536"}, "from 1 to 65535, not \"65536\""},
        {{"--mqtt", "mqtts://localhost", "--mqtt-ca", missing},
         "cannot read the CA file \"" + missing + "\": No such file or directory"},
        {{"--mqtt", "mqtt://plant@127.0.0.1", "--mqtt-password-file", missing},
         "cannot read the password file \"" + missing + "\""},
        {{"--mqtt", "mqtt://127.0.0.1", "--spool", missing + "/spool"},
         "in a folder that does not exist: \"" + missing + "\""},
        {{"--mqtt", "mqtt://127.0.0.1", "--mqtt-topic", "plant/+/line1"}, "must not hold + or #"},
        {{"--mqtt", "mqtt://127.0.0.1", "--mqtt-topic", "plant/#"}, "must not hold + or #"},
        {{"--config", folder_.file("bad.conf")},
         folder_.file("bad.conf") + ":4: the spool's maximum must be a whole number"},
        {{"--config", folder_.file("unknown.conf")},
         folder_.file("unknown.conf") + ":3: \"broker\" is not an option"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.arguments.back());
        std::vector<std::string> arguments = {DARQ_READ_PATH};
        if (row.arguments.front() != "--config") {
            arguments.insert(arguments.end(), {"--port", folder_.file("ttyNONE")});
        }
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        Program reader(arguments, folder_.file("refused"));
        EXPECT_EQ(reader.wait(kPatience), 64) << reader.errors();
        EXPECT_NE(reader.errors().find(row.message), std::string::npos) << reader.errors();
    }
}

} // namespace
} // namespace darq::testing
