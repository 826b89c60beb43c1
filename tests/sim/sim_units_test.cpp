#include "protocol/crc16.h"
#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "sim/faults.h"
#include "sim/instrument_values.h"
#include "sim/line_settings.h"
#include "sim/options.h"
#include "sim/pacing.h"
#include "sim/request_framer.h"
#include "sim/request_judgement.h"
#include "sim/transmit_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace darq::sim {
namespace {

using std::chrono::milliseconds;

Bytes requestFor(int address) {
    const auto request = buildReadRequest(address);
    return Bytes(request->begin(), request->end());
}

Bytes withCheckValue(Bytes payload) {
    const std::uint16_t check = crc16Modbus(payload.data(), payload.size());
    payload.push_back(static_cast<std::uint8_t>(check & 0xFF));
    payload.push_back(static_cast<std::uint8_t>(check >> 8));
    return payload;
}

TEST(SimRequestFramer, CutsFramesAtQuietGaps) {
    struct Arrival {
        int atMs;
        std::size_t count;
    };
    const struct {
        const char* name;
        int gapMs;
        std::vector<Arrival> arrivals;
        std::vector<std::size_t> frameSizes;
        std::vector<int> frameStartsMs;
    } cases[] = {
        {"one request in one piece", 5, {{0, 8}}, {8}, {0}},
        {"pieces closer than the gap stay one frame", 5, {{0, 3}, {4, 5}}, {8}, {0}},
        {"pieces further apart than the gap split", 5, {{0, 8}, {6, 8}}, {8, 8}, {0, 6}},
        {"a gap exactly as long ends the frame", 5, {{0, 4}, {5, 4}}, {4, 4}, {0, 5}},
        {"a slow line needs a longer quiet", 32, {{0, 4}, {20, 4}}, {8}, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Clock::time_point start{};
        const milliseconds gap(c.gapMs);
        RequestFramer framer;
        std::vector<ReceivedFrame> frames;
        const auto collect = [&](Clock::time_point now) {
            while (auto frame = framer.takeCompleteFrame(now, gap)) {
                frames.push_back(*frame);
            }
        };
        for (const auto& arrival : c.arrivals) {
            const Clock::time_point at = start + milliseconds(arrival.atMs);
            collect(at);
            framer.receive(Bytes(arrival.count, 0x55), at);
        }
        const Clock::time_point lastArrival = start + milliseconds(c.arrivals.back().atMs);
        collect(lastArrival + gap - milliseconds(1));
        EXPECT_EQ(frames.size() + 1, c.frameSizes.size()) << "the last frame ended too early";
        collect(lastArrival + gap);
        ASSERT_EQ(frames.size(), c.frameSizes.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].bytes.size(), c.frameSizes[i]);
            EXPECT_EQ(frames[i].firstByteAt, start + milliseconds(c.frameStartsMs[i]));
        }
        EXPECT_FALSE(framer.frameEnd(gap).has_value());
    }
}

TEST(SimRequestFramer, AFloodWithoutAPauseKeepsOnlyTheFirstBytesOfItsFrame) {
    const Clock::time_point start{};
    RequestFramer framer;
    for (int piece = 0; piece < 1000; ++piece) {
        framer.receive(Bytes(1000, 0x55), start + milliseconds(piece));
    }
    const auto frame = framer.takeCompleteFrame(start + milliseconds(2000), milliseconds(5));
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->bytes.size(), kMostKeptFrameBytes);
    EXPECT_EQ(frame->length, 1000000u);
}

TEST(SimJudgeRequest, AnswersOnlyIntactReadRequestsForItsAddress) {
    Bytes badCheck = requestFor(1);
    badCheck[7] ^= 0x01;
    const struct {
        const char* name;
        Bytes frame;
        std::vector<int> ownAddresses;
        bool answer;
        std::vector<std::string> flags;
    } cases[] = {
        {"own address", requestFor(1), {1}, true, {}},
        {"address 0 when that is ours", requestFor(0), {0}, true, {}},
        {"address 128", requestFor(128), {128}, true, {}},
        {"other address", requestFor(2), {1}, false, {"other address 2"}},
        {"one of several on the bus", requestFor(10), {1, 5, 9, 10, 11}, true, {}},
        {"none of several on the bus", requestFor(6), {1, 5, 9, 10}, false, {"other address 6"}},
        {"bad check value", badCheck, {1}, false, {"bad CRC"}},
        {"other function",
         withCheckValue({0x01, 0x04, 0x01, 0x03, 0x00, 0x03}),
         {1},
         false,
         {"function 0x04"}},
        {"too short",
         Bytes(badCheck.begin(), badCheck.begin() + 7),
         {1},
         false,
         {"7 bytes, not 8", "bad CRC"}},
        {"nine bytes",
         withCheckValue({0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0x00}),
         {1},
         false,
         {"9 bytes, not 8"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RequestJudgement judgement = judgeRequest(c.frame, c.ownAddresses);
        EXPECT_EQ(judgement.answer, c.answer);
        EXPECT_EQ(judgement.flags, c.flags);
    }
}

TEST(SimApplyFaults, EachFaultGivesItsKindOfTransmission) {
    Reading reading;
    reading.flow = 123456;
    reading.flowDecimals = 2;
    reading.totalLow = 12345678;
    reading.totalDecimals = 3;
    const Bytes request = requestFor(1);
    const Bytes reply = encodeReply(1, reading);
    const auto startsWithReply = [&](const Bytes& bytes) {
        const std::size_t common = std::min(bytes.size(), reply.size());
        return std::equal(bytes.begin(), bytes.begin() + static_cast<long>(common), reply.begin());
    };
    using Check = std::function<void(const Transmission&)>;
    const struct {
        const char* name;
        FaultDraw faults;
        Check check;
    } cases[] = {
        {"none",
         {},
         [&](const Transmission& t) {
             EXPECT_TRUE(t.echo.empty());
             EXPECT_EQ(t.reply, reply);
             EXPECT_TRUE(t.applied.empty());
         }},
        {"no reply",
         {true, false, false, false, false, false},
         [&](const Transmission& t) {
             EXPECT_TRUE(t.echo.empty());
             EXPECT_TRUE(t.reply.empty());
         }},
        {"short reply",
         {false, true, false, false, false, false},
         [&](const Transmission& t) {
             EXPECT_GE(t.reply.size(), 1u);
             EXPECT_LE(t.reply.size(), 16u);
             EXPECT_TRUE(startsWithReply(t.reply));
         }},
        {"extra bytes",
         {false, false, true, false, false, false},
         [&](const Transmission& t) {
             EXPECT_GE(t.reply.size(), 18u);
             EXPECT_LE(t.reply.size(), 25u);
             EXPECT_TRUE(startsWithReply(t.reply));
         }},
        {"bad crc",
         {false, false, false, true, false, false},
         [&](const Transmission& t) {
             const ReadOutcome outcome = judgeReply({}, t.reply);
             ASSERT_EQ(outcome.kind, ReadOutcome::Kind::Decoded);
             EXPECT_FALSE(outcome.checkValueOk);
             EXPECT_EQ(outcome.reading, reading);
         }},
        {"noise",
         {false, false, false, false, true, false},
         [&](const Transmission& t) {
             EXPECT_GE(t.reply.size(), 1u);
             EXPECT_LE(t.reply.size(), 40u);
             EXPECT_NE(t.reply.size(), kReplyLength);
         }},
        {"echo",
         {false, false, false, false, false, true},
         [&](const Transmission& t) {
             EXPECT_EQ(t.echo, request);
             EXPECT_EQ(t.reply, reply);
         }},
        {"echo without a reply",
         {true, false, false, false, false, true},
         [&](const Transmission& t) {
             EXPECT_EQ(t.echo, request);
             EXPECT_TRUE(t.reply.empty());
         }},
        {"no reply wins over the others",
         {true, true, true, true, true, false},
         [&](const Transmission& t) { EXPECT_TRUE(t.reply.empty()); }},
    };
    for (const auto& c : cases) {
        for (std::uint64_t seed = 1; seed <= 200; ++seed) {
            SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
            SeededRandom random(seed);
            c.check(applyFaults(request, reply, c.faults, random));
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
    }
}

TEST(SimDrawFaults, ProbabilitiesAndRepeatability) {
    FaultProbabilities always{1, 1, 1, 1, 1, 1};
    FaultProbabilities never{};
    FaultProbabilities halfTheBadCrc{};
    halfTheBadCrc.badCrc = 0.5;
    SeededRandom random(7);
    int badCrcCount = 0;
    for (int i = 0; i < 1000; ++i) {
        const FaultDraw all = drawFaults(always, random);
        EXPECT_TRUE(all.noReply && all.shortReply && all.extraBytes && all.badCrc && all.noise &&
                    all.echo);
        const FaultDraw none = drawFaults(never, random);
        EXPECT_FALSE(none.noReply || none.shortReply || none.extraBytes || none.badCrc ||
                     none.noise || none.echo);
        badCrcCount += drawFaults(halfTheBadCrc, random).badCrc ? 1 : 0;
    }
    EXPECT_GT(badCrcCount, 400);
    EXPECT_LT(badCrcCount, 600);

    FaultProbabilities some{0.3, 0.3, 0.3, 0.3, 0.3, 0.3};
    const Bytes request = requestFor(1);
    const Bytes reply = encodeReply(1, Reading{});
    SeededRandom first(42);
    SeededRandom second(42);
    for (int i = 0; i < 50; ++i) {
        const Transmission a = applyFaults(request, reply, drawFaults(some, first), first);
        const Transmission b = applyFaults(request, reply, drawFaults(some, second), second);
        EXPECT_EQ(a.echo, b.echo);
        EXPECT_EQ(a.reply, b.reply);
    }
}

TEST(SimPacing, ReplyEndsAfterTheWholeExchangeOnTheWire) {
    const struct {
        int baud;
        double characterMs;
        double quietMs;
    } cases[] = {
        {1200, 11000.0 / 1200, 3.5 * 11000.0 / 1200},
        {2400, 11000.0 / 2400, 3.5 * 11000.0 / 2400},
        {4800, 11000.0 / 4800, 3.5 * 11000.0 / 4800},
        {9600, 11000.0 / 9600, 5.0},
    };
    const auto inMs = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        EXPECT_NEAR(inMs(characterTime(c.baud)), c.characterMs, 0.001);
        EXPECT_NEAR(inMs(quietGap(c.baud)), c.quietMs, 0.001);

        const Clock::time_point start{};
        const AnswerTiming timing = pacedTiming(start, kRequestLength, c.baud, milliseconds(5));
        const Clock::time_point lastReplyByte =
            timing.replyFirstDue + timing.spacing * static_cast<int>(kReplyLength - 1);
        const double exchangeMs = 25 * c.characterMs + 5;
        EXPECT_GE(inMs(lastReplyByte - start), exchangeMs);
        EXPECT_LT(inMs(lastReplyByte - start), exchangeMs + 0.01);
        const Clock::time_point lastEchoByte =
            timing.echoFirstDue + timing.spacing * static_cast<int>(kRequestLength - 1);
        EXPECT_NEAR(inMs(lastEchoByte - start), 8 * c.characterMs, 0.001);
    }
    const AnswerTiming immediate = immediateTiming(Clock::time_point{});
    EXPECT_EQ(immediate.replyFirstDue, Clock::time_point{});
    EXPECT_EQ(immediate.spacing, Clock::duration::zero());
}

TEST(SimTransmitQueue, PacesBytesAndQueuesAnswersBehindEachOther) {
    const Clock::time_point start{};
    TransmitQueue queue;
    queue.schedule({1, 2, 3}, start + milliseconds(10), milliseconds(2));
    queue.schedule({4, 5}, start + milliseconds(11), milliseconds(2));
    EXPECT_EQ(queue.nextDue(), start + milliseconds(10));
    EXPECT_TRUE(queue.takeDue(start + milliseconds(9)).empty());
    EXPECT_EQ(queue.takeDue(start + milliseconds(12)), (Bytes{1, 2}));
    EXPECT_EQ(queue.takeDue(start + milliseconds(15)), (Bytes{3}));
    EXPECT_EQ(queue.takeDue(start + milliseconds(16)), (Bytes{4}));
    EXPECT_EQ(queue.takeDue(start + milliseconds(100)), (Bytes{5}));
    EXPECT_FALSE(queue.nextDue().has_value());
}

TEST(SimInstrumentValues, VaryingValuesMoveAndTheTotalAccumulates) {
    const Clock::time_point start{};
    InstrumentValues values = InstrumentValues::varying(start);
    Reading previous = values.readingAt(start);
    for (int step = 1; step <= 600; ++step) {
        const Reading reading = values.readingAt(start + milliseconds(100 * step));
        EXPECT_EQ(reading.flowDecimals, 2);
        EXPECT_EQ(reading.totalDecimals, 3);
        EXPECT_GE(reading.flow, 800);
        EXPECT_LE(reading.flow, 1600);
        EXPECT_GT(reading.totalLow, previous.totalLow) << "at step " << step;
        previous = reading;
    }
    // A minute at 8.00 to 16.00 units a minute.
    EXPECT_GE(previous.totalLow, 8000);
    EXPECT_LE(previous.totalLow, 16000);
    EXPECT_EQ(previous.totalHigh, 0);

    Reading fixedReading;
    fixedReading.flow = -5;
    fixedReading.totalHigh = 7;
    InstrumentValues fixed = InstrumentValues::fixed(fixedReading);
    EXPECT_EQ(fixed.readingAt(start + std::chrono::hours(1)), fixedReading);
}

TEST(SimLineSettings, DescribesTheFrameTheToolSet) {
    const struct {
        speed_t speed;
        tcflag_t frame;
        const char* text;
        bool instrumentFrame;
    } cases[] = {
        {B9600, CS8 | CSTOPB, "9600 8N2", true},
        {B1200, CS8 | CSTOPB, "1200 8N2", true},
        {B9600, CS8, "9600 8N1", false},
        {B4800, CS8 | PARENB | CSTOPB, "4800 8E2", false},
        {B2400, CS7 | PARENB | PARODD, "2400 7O1", false},
    };
    for (const auto& c : cases) {
        termios attributes{};
        makeInstrumentLine(attributes, c.speed);
        attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
        attributes.c_cflag |= c.frame;
        const LineSettings settings = lineSettingsOf(attributes);
        EXPECT_EQ(settings.text(), c.text);
        EXPECT_EQ(settings.isInstrumentFrame(), c.instrumentFrame) << c.text;
    }
}

TEST(SimParseOptions, AcceptsTheCommandLineAndRefusesBadValues) {
    const OptionsParse defaults = parseOptions({});
    ASSERT_TRUE(defaults.options);
    EXPECT_EQ(defaults.options->addresses, std::vector<int>{1});
    EXPECT_FALSE(defaults.options->answerRate);
    EXPECT_EQ(defaults.options->baudRate, 9600);
    EXPECT_TRUE(defaults.options->pacing);
    EXPECT_EQ(defaults.options->turnaroundMs, 5);
    EXPECT_FALSE(defaults.options->fixedReading);

    const OptionsParse full =
        parseOptions({"--address", "1,5,9-11", "--rate", "4800", "--total-high", "7", "--flow=-5",
                      "--no-pacing", "--echo", "0.25", "--seed", "18446744073709551615", "--baud",
                      "1200", "--link", "/tmp/x", "--"});
    ASSERT_TRUE(full.options) << full.error;
    EXPECT_EQ(full.options->addresses, (std::vector<int>{1, 5, 9, 10, 11}));
    EXPECT_EQ(full.options->answerRate, 4800);
    ASSERT_TRUE(full.options->fixedReading);
    EXPECT_EQ(full.options->fixedReading->flow, -5);
    EXPECT_EQ(full.options->fixedReading->totalHigh, 7);
    EXPECT_EQ(full.options->fixedReading->totalLow, 0);
    EXPECT_FALSE(full.options->pacing);
    EXPECT_DOUBLE_EQ(full.options->faults.echo, 0.25);
    EXPECT_EQ(full.options->seed, 18446744073709551615u);
    EXPECT_EQ(full.options->baudRate, 1200);
    EXPECT_EQ(full.options->linkPath, "/tmp/x");

    const struct {
        const char* address;
        const char* host;
        int port;
    } listened[] = {
        {":5020", "127.0.0.1", 5020}, {"[::1]:0", "::1", 0}, {"gw.local:502", "gw.local", 502}};
    for (const auto& c : listened) {
        const OptionsParse parse = parseOptions({"--listen", c.address});
        ASSERT_TRUE(parse.options && parse.options->listen) << parse.error;
        EXPECT_EQ(parse.options->listen->host, c.host);
        EXPECT_EQ(parse.options->listen->port, c.port);
    }

    const struct {
        std::vector<std::string> arguments;
        const char* reason;
    } refused[] = {
        {{"--address", "256"}, "--address"},
        {{"--address", "1x"}, "--address"},
        {{"--address", "5-1"}, "--address"},
        {{"--rate", "1000"}, "--rate"},
        {{"--baud", "1234"}, "--baud"},
        {{"--bad-crc", "1.5"}, "probability"},
        {{"--noise", "nan"}, "probability"},
        {{"--total-high", "-1"}, "--total-high"},
        {{"--flow", "2147483648"}, "--flow"},
        {{"--seed", "-3"}, "--seed"},
        {{"--turnaround"}, "--turnaround"},
        {{"--no-pacing=1"}, "--no-pacing"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"-v"}, "unknown option -v"},
        {{"extra"}, "unexpected argument extra"},
        {{"--echo", "0x1"}, "probability"},
        {{"--noise", "1e-1"}, "probability"},
        {{"--bad-crc", " 0.5"}, "probability"},
        {{"--no-reply", "+0.5"}, "probability"},
        {{"--listen", "5020"}, "--listen"},
        {{"--listen", ":65536"}, "--listen"},
        {{"--listen", ":502", "--link", "/tmp/x"}, "cannot go with --device or --link"},
    };
    for (const auto& c : refused) {
        const OptionsParse parse = parseOptions(c.arguments);
        EXPECT_FALSE(parse.options) << c.arguments[0];
        EXPECT_NE(parse.error.find(c.reason), std::string::npos) << parse.error;
        EXPECT_EQ(parse.error.find('\n'), std::string::npos) << parse.error;
    }
}

} // namespace
} // namespace darq::sim
