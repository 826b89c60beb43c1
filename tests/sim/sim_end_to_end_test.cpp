#include "protocol/crc16.h"
#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace darq {
namespace {

using Clock = std::chrono::steady_clock;
using darq::testing::SimProcess;
using std::chrono::milliseconds;

constexpr milliseconds kGenerous{5000};

Bytes requestFor(int address) {
    const auto request = buildReadRequest(address);
    return Bytes(request->begin(), request->end());
}

// The tool's end of the line: the pseudo-terminal's slave side, set up as a serial port would be.
class LineEnd {
public:
    explicit LineEnd(const std::string& path, speed_t speed = B9600,
                     tcflag_t frame = CS8 | CSTOPB) {
        if (path.rfind("tcp://", 0) == 0) {
            connectTo(path.substr(6));
            return;
        }
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            throw std::runtime_error("cannot open " + path);
        }
        termios attributes{};
        ::tcgetattr(fd_, &attributes);
        cfmakeraw(&attributes);
        attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
        attributes.c_cflag |= frame | CLOCAL | CREAD;
        cfsetispeed(&attributes, speed);
        cfsetospeed(&attributes, speed);
        ::tcsetattr(fd_, TCSANOW, &attributes);
    }
    LineEnd(const LineEnd&) = delete;
    LineEnd& operator=(const LineEnd&) = delete;
    ~LineEnd() { ::close(fd_); }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Collects bytes until `count` have come or `timeout` has passed.
    Bytes receive(std::size_t count, milliseconds timeout = kGenerous) {
        const Clock::time_point deadline = Clock::now() + timeout;
        Bytes received;
        while (received.size() < count) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                break;
            }
            pollfd line{fd_, POLLIN, 0};
            if (::poll(&line, 1, static_cast<int>(left)) <= 0) {
                continue;
            }
            std::uint8_t buffer[64];
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got > 0) {
                received.insert(received.end(), buffer, buffer + got);
            }
        }
        return received;
    }

private:
    // "127.0.0.1:PORT", as darq-sim --listen prints it.
    void connectTo(const std::string& address) {
        const std::size_t colon = address.rfind(':');
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))));
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr) != 1 ||
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            throw std::runtime_error("cannot connect to " + address);
        }
    }

    int fd_ = -1;
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Waits until the log holds `part` at least `count` times.
bool waitForLog(const SimProcess& sim, const std::string& part, std::size_t count = 1) {
    const Clock::time_point deadline = Clock::now() + kGenerous;
    while (occurrences(sim.log(), part) < count) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

TEST(SimEndToEnd, ReplyCarriesTheFixedValues) {
    const struct {
        std::vector<std::string> arguments;
        int address;
        Reading reading;
    } cases[] = {
        {{"--flow", "123456", "--flow-decimals", "2", "--total-low", "12345678", "--total-decimals",
          "3"},
         1,
         {123456, 2, 0, 12345678, 3}},
        {{"--address", "128", "--flow", "-5", "--flow-decimals", "2", "--total-high", "7"},
         128,
         {-5, 2, 7, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("--no-pacing");
        SimProcess sim(arguments);
        LineEnd line(sim.devicePath());
        line.send(requestFor(c.address));
        const ReadOutcome outcome = judgeReply({}, line.receive(kReplyLength));
        ASSERT_EQ(outcome.kind, ReadOutcome::Kind::Decoded) << sim.log();
        EXPECT_TRUE(outcome.checkValueOk);
        EXPECT_EQ(outcome.received[0], c.address);
        EXPECT_EQ(outcome.reading, c.reading);
    }
}

TEST(SimEndToEnd, FramesOtherThanOurReadRequestGetNoAnswer) {
    Bytes badCheck = requestFor(1);
    badCheck[6] ^= 0x40;
    Bytes otherFunction = requestFor(1);
    otherFunction[1] = 0x04;
    const std::uint16_t check = crc16Modbus(otherFunction.data(), 6);
    otherFunction[6] = static_cast<std::uint8_t>(check & 0xFF);
    otherFunction[7] = static_cast<std::uint8_t>(check >> 8);
    const struct {
        const char* name;
        Bytes frame;
    } cases[] = {
        {"another address", requestFor(2)},
        {"a bad check value", badCheck},
        {"another function", otherFunction},
        {"seven bytes", Bytes(badCheck.begin(), badCheck.begin() + 7)},
    };
    SimProcess sim({"--no-pacing", "--flow", "42"});
    LineEnd line(sim.devicePath());
    std::size_t unanswered = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        line.send(c.frame);
        ASSERT_TRUE(waitForLog(sim, "no answer", ++unanswered)) << sim.log();
        // Had the frame been answered, that reply would come in front of this one.
        line.send(requestFor(1));
        Bytes received = line.receive(kReplyLength);
        const Bytes more = line.receive(1, milliseconds(100));
        received.insert(received.end(), more.begin(), more.end());
        const ReadOutcome outcome = judgeReply({}, received);
        ASSERT_EQ(outcome.kind, ReadOutcome::Kind::Decoded) << sim.log();
        EXPECT_EQ(outcome.reading->flow, 42);
    }
    EXPECT_EQ(occurrences(sim.log(), "other address 2"), 1u);
    EXPECT_EQ(occurrences(sim.log(), "bad CRC"), 2u) << sim.log();
}

TEST(SimEndToEnd, PacedReplyTakesTheWireTimeAtEachRate) {
    const struct {
        speed_t speed;
        int baud;
    } cases[] = {{B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}};
    SimProcess sim({"--flow", "1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        LineEnd line(sim.devicePath(), c.speed);
        const Clock::time_point sent = Clock::now();
        line.send(requestFor(1));
        const Bytes reply = line.receive(kReplyLength);
        const double elapsedMs =
            std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        ASSERT_EQ(reply.size(), kReplyLength) << sim.log();
        EXPECT_EQ(judgeReply({}, reply).reading->flow, 1);
        const double wireMs = 1000.0 * (kRequestLength + kReplyLength) * 11 / c.baud;
        EXPECT_GE(elapsedMs, wireMs);
        EXPECT_NE(sim.log().find("line " + std::to_string(c.baud) + " 8N2"), std::string::npos);
    }
}

TEST(SimEndToEnd, LogFlagsALineOtherThan8N2) {
    // A pseudo-terminal always keeps 8 data bits without parity, so only the stop bits and the
    // rate the tool chose can be seen on it.
    SimProcess sim({"--no-pacing"});
    LineEnd line(sim.devicePath(), B4800, CS8);
    line.send(requestFor(1));
    EXPECT_EQ(line.receive(kReplyLength).size(), kReplyLength);
    EXPECT_TRUE(waitForLog(sim, "line 4800 8N1, not 8N2")) << sim.log();
}

TEST(SimEndToEnd, FaultsReachTheLine) {
    const struct {
        const char* option;
        std::size_t expectedLength;
        bool checkValueOk;
        bool echoInFront;
    } cases[] = {
        {"--echo", kRequestLength + kReplyLength, true, true},
        {"--bad-crc", kReplyLength, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        SimProcess sim({c.option, "1", "--seed", "3", "--flow", "7"});
        LineEnd line(sim.devicePath());
        line.send(requestFor(1));
        const Bytes received = line.receive(c.expectedLength);
        ASSERT_EQ(received.size(), c.expectedLength) << sim.log();
        const Bytes request = requestFor(1);
        EXPECT_EQ(std::equal(request.begin(), request.end(), received.begin()), c.echoInFront);
        const ReadOutcome outcome =
            judgeReply({}, Bytes(received.end() - static_cast<long>(kReplyLength), received.end()));
        EXPECT_EQ(outcome.checkValueOk, c.checkValueOk);
        EXPECT_EQ(outcome.reading->flow, 7);
    }
}

TEST(SimEndToEnd, NoReplyFaultSendsNothing) {
    SimProcess sim({"--no-reply", "1", "--no-pacing"});
    LineEnd line(sim.devicePath());
    line.send(requestFor(1));
    ASSERT_TRUE(waitForLog(sim, "faults: no-reply")) << sim.log();
    EXPECT_TRUE(line.receive(1, milliseconds(200)).empty());
}

TEST(SimEndToEnd, VaryingValuesDifferBetweenReadings) {
    SimProcess sim({"--no-pacing"});
    LineEnd line(sim.devicePath());
    line.send(requestFor(1));
    const ReadOutcome first = judgeReply({}, line.receive(kReplyLength));
    std::this_thread::sleep_for(milliseconds(100));
    line.send(requestFor(1));
    const ReadOutcome second = judgeReply({}, line.receive(kReplyLength));
    ASSERT_EQ(first.kind, ReadOutcome::Kind::Decoded);
    ASSERT_EQ(second.kind, ReadOutcome::Kind::Decoded);
    EXPECT_EQ(first.reading->flowDecimals, 2);
    EXPECT_EQ(first.reading->totalDecimals, 3);
    EXPECT_GT(second.reading->totalLow, first.reading->totalLow);
}

TEST(SimEndToEnd, AnswersAgainAfterTheToolClosedAndReopenedThePort) {
    SimProcess sim({"--no-pacing"});
    for (int opening = 0; opening < 3; ++opening) {
        SCOPED_TRACE(opening);
        LineEnd line(sim.devicePath());
        line.send(requestFor(1));
        EXPECT_EQ(line.receive(kReplyLength).size(), kReplyLength) << sim.log();
    }
    EXPECT_TRUE(sim.isRunning());
    EXPECT_EQ(sim.log().find("failed"), std::string::npos) << sim.log();
}

TEST(SimEndToEnd, SigtermStopsCleanlyAndRemovesTheLink) {
    char directory[] = "/tmp/darq-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string link = std::string(directory) + "/com1";
    {
        SimProcess sim({"--link", link});
        char target[256] = {};
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(sim.devicePath(), target);
        LineEnd line(link);
        line.send(requestFor(1));
        EXPECT_EQ(line.receive(kReplyLength).size(), kReplyLength);

        EXPECT_EQ(sim.stop(), 0);
        EXPECT_FALSE(sim.isRunning());
        EXPECT_NE(sim.log().find("stopping on SIGTERM"), std::string::npos) << sim.log();
        struct stat gone {};
        EXPECT_NE(::lstat(link.c_str(), &gone), 0);
    }
    ::rmdir(directory);
}

TEST(SimEndToEnd, LinkReplacesOnlyALinkAnEarlierInstrumentLeft) {
    char directory[] = "/tmp/darq-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string link = std::string(directory) + "/com1";
    const std::string someonesFile = std::string(directory) + "/notes.txt";
    ASSERT_EQ(std::system(("echo keep > " + someonesFile).c_str()), 0);
    SimProcess earlier;
    const struct {
        const char* name;
        std::string target;
        bool replaced;
    } cases[] = {
        {"dangling", std::string(directory) + "/gone", true},
        {"to another pseudo-terminal", earlier.devicePath(), true},
        {"to a regular file", someonesFile, false},
        {"to a character device", "/dev/null", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(::symlink(row.target.c_str(), link.c_str()), 0);
        try {
            SimProcess sim({"--link", link});
            EXPECT_TRUE(row.replaced);
        } catch (const std::runtime_error& error) {
            EXPECT_FALSE(row.replaced) << error.what();
            EXPECT_NE(std::string(error.what()).find("not a pseudo-terminal"), std::string::npos)
                << error.what();
        }
        char target[256] = {};
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (row.replaced) {
            EXPECT_LT(length, 0) << "the instrument's link outlived it";
        } else {
            EXPECT_EQ(std::string(target, static_cast<std::size_t>(std::max<ssize_t>(length, 0))),
                      row.target);
        }
        ::unlink(link.c_str());
    }
    ::unlink(someonesFile.c_str());
    ::rmdir(directory);
}

TEST(SimEndToEnd, ServesTcpClientsInTurnAndOutlivesOneThatLeavesMidReply) {
    SimProcess sim({"--listen", ":0", "--baud", "1200", "--flow", "42"});
    ASSERT_EQ(sim.devicePath().rfind("tcp://127.0.0.1:", 0), 0u) << sim.devicePath();
    {
        LineEnd client(sim.devicePath());
        client.send(requestFor(1));
        const ReadOutcome outcome = judgeReply({}, client.receive(kReplyLength));
        ASSERT_EQ(outcome.kind, ReadOutcome::Kind::Decoded) << sim.log();
        EXPECT_EQ(outcome.reading->flow, 42);
    }
    {
        // At 1200 Bd the reply takes 156 ms after its first byte: this client leaves in the midst.
        LineEnd leaving(sim.devicePath());
        leaving.send(requestFor(1));
        ASSERT_FALSE(leaving.receive(1).empty()) << sim.log();
    }
    LineEnd next(sim.devicePath());
    next.send(requestFor(1));
    EXPECT_EQ(next.receive(kReplyLength).size(), kReplyLength) << sim.log();
    EXPECT_TRUE(sim.isRunning());
}

TEST(SimEndToEnd, ALogThatCannotBeWrittenIsSaidAndEndsWithStatus74) {
    SimProcess sim({"--log", "/dev/full"});
    LineEnd line(sim.devicePath());
    line.send(requestFor(1));
    EXPECT_EQ(line.receive(kReplyLength).size(), kReplyLength) << "it serves on without its log";
    EXPECT_EQ(sim.stop(), 74);
    EXPECT_NE(sim.log().find("cannot write the log to /dev/full"), std::string::npos) << sim.log();
}

TEST(SimEndToEnd, KilledSimulatorIsGoneAtOnce) {
    SimProcess sim;
    EXPECT_TRUE(sim.isRunning());
    sim.kill();
    EXPECT_FALSE(sim.isRunning());
    EXPECT_FALSE(sim.stop().has_value());
}

TEST(SimEndToEnd, BadOptionsAreRefusedWithUsage) {
    const std::vector<std::string> refused[] = {{"--baud", "1234"}, {"--address", "300"}};
    for (const auto& arguments : refused) {
        SCOPED_TRACE(arguments[0]);
        try {
            SimProcess sim(arguments);
            ADD_FAILURE() << "darq-sim started";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(arguments[0]), std::string::npos);
            EXPECT_NE(std::string(error.what()).find("usage: darq-sim"), std::string::npos);
        }
    }
}

TEST(SimEndToEnd, ExitStatusFollowsTheTableOfAllPrograms) {
    const struct {
        const char* arguments;
        int status;
    } cases[] = {
        {"--bogus 2>/dev/null", 64},
        {"--device /nonexistent/ttyUSB9 2>/dev/null", 2},
        {"--log /nonexistent/sim.log 2>/dev/null", 74},
        {"--version >/dev/full", 74},
        {"-V >/dev/null", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const int status = std::system((std::string(DARQ_SIM_PATH) + " " + c.arguments).c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
    }
}

} // namespace
} // namespace darq
