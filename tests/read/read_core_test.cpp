#include "protocol/crc16.h"
#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "protocol/reply_completion.h"
#include "protocol/reply_words.h"
#include "read/read_options.h"
#include "read/read_summary.h"
#include "read/reading_output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace darq {
namespace {

using namespace std::chrono_literals;
using Clock = ReplyCollector::Clock;

Bytes requestBytes(int address) {
    const ReadRequest request = *buildReadRequest(address);
    return Bytes(request.begin(), request.end());
}

Bytes sampleReply() {
    Reading reading;
    reading.flow = 123456;
    reading.flowDecimals = 2;
    reading.totalLow = 12345678;
    reading.totalDecimals = 3;
    return encodeReply(1, reading);
}

TEST(ReplyGap, IsThreeAndAHalfCharacterTimesButNeverUnderTwentyMilliseconds) {
    EXPECT_EQ(replyGap(1200), 32084us); // 3.5 * 11 bits / 1200 baud
    EXPECT_EQ(replyGap(2400), 20ms);
    EXPECT_EQ(replyGap(9600), 20ms);
}

TEST(ReplyCollector, EndsAReplyByTheGapAfterSeventeenBytesOrByTheTimeout) {
    struct Batch {
        std::chrono::milliseconds at;
        std::size_t byteCount;
    };
    struct Case {
        const char* name;
        std::vector<Batch> batches;
        std::chrono::milliseconds completesAt;
        std::optional<std::chrono::milliseconds> latency;
    };
    // Gap 20 ms, timeout 100 ms, all times from the end of the send.
    const std::vector<Case> cases = {
        {"nothing comes", {}, 100ms, std::nullopt},
        {"whole reply at once", {{30ms, 17}}, 50ms, 30ms},
        {"reply in two batches", {{20ms, 10}, {35ms, 7}}, 55ms, 35ms},
        {"a pause before byte 17 does not end it", {{20ms, 16}, {70ms, 1}}, 90ms, 70ms},
        {"only an echo waits for the timeout", {{5ms, 8}}, 100ms, 5ms},
        {"bytes that keep coming stop at the timeout",
         {{30ms, 17}, {45ms, 1}, {60ms, 1}, {75ms, 1}, {90ms, 1}},
         100ms,
         90ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyCollector collector(ReplyWait::CompleteReply, 20ms, 100ms);
        const Clock::time_point sendEnd{};
        collector.start(sendEnd);
        for (const Batch& batch : c.batches) {
            collector.add(Bytes(batch.byteCount, 0x55), sendEnd + batch.at);
        }
        EXPECT_EQ(collector.completionTime(), sendEnd + c.completesAt);
        EXPECT_FALSE(collector.isComplete(sendEnd + c.completesAt - 1us));
        EXPECT_TRUE(collector.isComplete(sendEnd + c.completesAt));
        EXPECT_EQ(collector.latency(), c.latency);
    }
}

Bytes withCheckValue(Bytes frame) {
    const std::uint16_t check = crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(check & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(check >> 8));
    return frame;
}

TEST(ReplyVerdict, SaysWhatTheBytesMostLikelyMean) {
    using Finding = ReadOutcome::Finding;
    const Bytes request = requestBytes(1);
    const Bytes reply = sampleReply();
    const auto echoed = [&](const Bytes& after) {
        Bytes received = request;
        received.insert(received.end(), after.begin(), after.end());
        return received;
    };
    const auto changed = [&](std::size_t at, std::uint8_t value) {
        Bytes other(reply.begin(), reply.end() - 2);
        other[at] = value;
        return withCheckValue(other);
    };
    Bytes damaged = reply;
    damaged[16] ^= 0xFF;

    const struct {
        const char* name;
        Bytes received;
        bool stillArriving;
        Finding finding;
        const char* words; // a part of the line darq-read prints
    } cases[] = {
        {"silence", {}, false, Finding::Silence, "nothing came back"},
        {"echo only", request, false, Finding::EchoOnly, "only the echo"},
        {"echo then a short reply", echoed(Bytes(reply.begin(), reply.begin() + 9)), false,
         Finding::WrongLength, "the echo of our own request came back, then 9 bytes, not 17"},
        {"reply behind the echo", echoed(reply), false, Finding::Clean, ""},
        {"a reply cut off by the wait", Bytes(reply.begin(), reply.begin() + 9), true,
         Finding::CutOff,
         "9 bytes came back and more were still arriving when the wait ended: "
         "raise --timeout"},
        {"a short reply", Bytes(reply.begin(), reply.begin() + 9), false, Finding::WrongLength,
         "9 bytes came back, not 17"},
        {"one byte", {0x01}, false, Finding::WrongLength, "1 byte came back, not 17"},
        {"exception 02", withCheckValue({0x01, 0x83, 0x02}), false, Finding::Exception,
         "Modbus exception 02 illegal data address"},
        {"exception 04 behind the echo", echoed(withCheckValue({0x01, 0x83, 0x04})), false,
         Finding::Exception, "exception 04 server device failure"},
        {"five bytes that are no exception",
         {0x01, 0x83, 0x02, 0x00, 0x00},
         false,
         Finding::WrongLength,
         "5 bytes came back, not 17"},
        {"bad check value", damaged, false, Finding::BadCheckValue, "wrong check value"},
        {"from another address", changed(0, 5), false, Finding::WrongHeader,
         "it comes from address 5"},
        {"another function", changed(1, 4), false, Finding::WrongHeader,
         "its function is 4, not 3"},
        {"another byte count", changed(2, 11), false, Finding::WrongHeader,
         "it announces 11 data bytes, not 12"},
        {"clean", reply, false, Finding::Clean, ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const ReadOutcome outcome = judgeReply(request, row.received, row.stillArriving);
        EXPECT_EQ(outcome.finding, row.finding);
        const std::optional<Words> words = explanationWords(outcome, WordsFor::CommandLine);
        const std::string text = words ? render(*words) : "";
        EXPECT_NE(text.find(row.words), std::string::npos) << text;
        EXPECT_EQ(text.empty(), *row.words == '\0');
        // The window still decodes a wrong header; the verdict says it is no reading.
        if (row.finding == Finding::WrongHeader) {
            EXPECT_EQ(outcome.kind, ReadOutcome::Kind::Decoded);
            EXPECT_EQ(outcome.headerOk, false);
            EXPECT_FALSE(outcome.isReading());
        }
    }
}

TEST(ReadOptions, ListsGoWithTheReadingAndTheSearchTheyFit) {
    const struct {
        std::vector<std::string> arguments;
        std::vector<int> addresses; // empty: the whole bus
        std::vector<int> rates;
        const char* refusal; // a part of the usage error, or empty
    } cases[] = {
        {{"-p", "COM1"}, {1}, {9600}, ""},
        {{"-pCOM1", "-a", "1,5,9-11", "-b2400"}, {1, 5, 9, 10, 11}, {2400}, ""},
        {{"--port=COM1", "--scan"}, {}, {9600, 4800, 2400, 1200}, ""},
        {{"-p", "COM1", "--scan", "-a", "3-4", "-b", "1200,9600"}, {3, 4}, {1200, 9600}, ""},
        {{"-p", "COM1", "-b", "1200,9600"}, {}, {}, "several rates go with --scan"},
        {{"-p", "COM1", "--all"}, {}, {}, "--all goes with --scan"},
        {{"-p", "COM1", "--scan", "-c", "2"}, {}, {}, "do not go with --scan"},
        {{"-p", "COM1", "-a", "1,,2"}, {}, {}, "an empty item"},
        {{"-p", "COM1", "-a", "20-10"}, {}, {}, "runs backwards"},
        {{"-p", "COM1", "-a", "127-129"}, {}, {}, "outside 0 to 128"},
        {{"--list-ports", "--scan"}, {}, {}, "--list-ports takes no reading or search options"},
        {{"-p", "tcp://192.168.1.20"}, {}, {}, "tcp://HOST:PORT with a port from 1 to 65535"},
        {{"-p", "COM1", "--", "-a", "3"}, {}, {}, "unexpected argument \"-a\""},
        {{"-p", "COM1", "-b", "9600,300"}, {}, {}, "\"9600,300\""},
        {{"-a", "1"}, {}, {}, "--port is required"},
        {{"-p", "COM1", "--rs485-delay-before", "5"}, {}, {}, "go with --rs485"},
        {{"-p", "COM1", "--rs485", "--rs485-delay-after", "101"}, {}, {}, "from 0 to 100"},
        {{"--list-ports", "--rs485"}, {}, {}, "only --format and --no-header"},
        {{"-p", "COM1", "--no-header"}, {}, {}, "--no-header goes with --format csv"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.arguments[1]);
        const ParsedReadOptions parsed = parseReadOptions(row.arguments);
        if (*row.refusal != '\0') {
            EXPECT_EQ(parsed.kind, ParsedReadOptions::Kind::UsageError);
            EXPECT_NE(parsed.error.find(row.refusal), std::string::npos) << parsed.error;
            continue;
        }
        ASSERT_EQ(parsed.kind, ParsedReadOptions::Kind::Run) << parsed.error;
        EXPECT_EQ(parsed.options.port, "COM1");
        EXPECT_EQ(parsed.options.addresses, row.addresses);
        EXPECT_EQ(parsed.options.baudRates, row.rates);
    }
}

TEST(ReadOptions, HelpVersionAndTraceKeepTheirLetters) {
    EXPECT_EQ(parseReadOptions({"-h"}).kind, ParsedReadOptions::Kind::Help);
    EXPECT_EQ(parseReadOptions({"-V"}).kind, ParsedReadOptions::Kind::Version);
    const ParsedReadOptions traced = parseReadOptions({"-p", "COM1", "-v"});
    ASSERT_EQ(traced.kind, ParsedReadOptions::Kind::Run) << traced.error;
    EXPECT_TRUE(traced.options.trace);
}

TEST(ReadOptions, AConfigFileGivesWhatTheCommandLineDoesNot) {
    char path[] = "/tmp/darq-read-config-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string config = "# line 1\nport = /dev/ttyUSB0\ncount = 0\ninterval = 500\n"
                               "reconnect\nmqtt = mqtt://broker.plant\nquiet\n";
    ASSERT_EQ(::write(fd, config.data(), config.size()), static_cast<ssize_t>(config.size()));
    ::close(fd);
    const ParsedReadOptions parsed = parseReadOptions({"--config", path, "-c", "3", "-p", "COM1"});
    ::unlink(path);
    ASSERT_EQ(parsed.kind, ParsedReadOptions::Kind::Run) << parsed.error;
    EXPECT_EQ(parsed.options.port, "COM1");
    EXPECT_EQ(parsed.options.count, 3);
    EXPECT_EQ(parsed.options.intervalMs, 500);
    EXPECT_TRUE(parsed.options.reconnect);
    EXPECT_TRUE(parsed.options.quiet);
    EXPECT_EQ(parsed.options.gateway.mqttUrl, "mqtt://broker.plant");
}

ReadingRecord recordOf(const Bytes& received, std::optional<double> latencyMs) {
    ReadingRecord record;
    record.time = std::chrono::system_clock::time_point(1714552200125ms);
    record.address = 1;
    record.baudRate = 9600;
    record.device = "/dev/ttyUSB0";
    record.request = requestBytes(1);
    record.outcome = judgeReply(record.request, received);
    record.latencyMs = latencyMs;
    return record;
}

TEST(ReadingOutput, MachineFormatsLeaveUndecodedFieldsEmptyAndTextStartsWithTheLocalTime) {
    // China Standard Time, eight hours ahead of UTC, written so that no time zone data is needed.
    ::setenv("TZ", "CST-8", 1);
    ::tzset();
    const ReadingRecord decoded = recordOf(sampleReply(), 54.31);
    const ReadingRecord nothing = recordOf({}, std::nullopt);
    const ReadingRecord partial = recordOf(Bytes(5, 0x01), 40.0);

    Bytes echoThenReply = requestBytes(1);
    const Bytes reply = sampleReply();
    echoThenReply.insert(echoThenReply.end(), reply.begin(), reply.end());
    const ReadingRecord echoed = recordOf(echoThenReply, 62.0);

    EXPECT_EQ(formatReading(OutputFormat::Csv, decoded),
              "2024-05-01T08:30:00.125Z,1,decoded,1234.56,12345.678,17,ok,54.3,9600,false,,true,"
              "/dev/ttyUSB0,false\n");
    EXPECT_EQ(formatReading(OutputFormat::Csv, nothing),
              "2024-05-01T08:30:00.125Z,1,no-data,,,0,,,9600,false,,,/dev/ttyUSB0,false\n");
    EXPECT_EQ(formatReading(OutputFormat::Csv, partial),
              "2024-05-01T08:30:00.125Z,1,ignored,,,5,,40.0,9600,false,,,/dev/ttyUSB0,false\n");
    EXPECT_EQ(formatReading(OutputFormat::Csv, echoed),
              "2024-05-01T08:30:00.125Z,1,decoded,1234.56,12345.678,17,ok,62.0,9600,true,,true,"
              "/dev/ttyUSB0,false\n");
    EXPECT_EQ(formatReading(OutputFormat::Text, echoed),
              "16:30:00.125  flow 1234.56  total 12345.678  echo removed\n");
    const ReadingRecord refused = recordOf(withCheckValue({0x01, 0x83, 0x02}), 30.0);
    EXPECT_EQ(formatReading(OutputFormat::Csv, refused),
              "2024-05-01T08:30:00.125Z,1,ignored,,,5,,30.0,9600,false,2,,/dev/ttyUSB0,false\n");
    EXPECT_EQ(formatReading(OutputFormat::Text, refused)
                  .rfind("16:30:00.125  exception 02 illegal data address\n"
                         "  the instrument refused the read",
                         0),
              0u);
    EXPECT_EQ(formatReading(OutputFormat::Json, nothing),
              "{\"time\":\"2024-05-01T08:30:00.125Z\",\"address\":1,\"baud\":9600,"
              "\"outcome\":\"no-data\",\"flow\":null,\"total\":null,\"bytes\":0,"
              "\"crc_ok\":null,\"latency_ms\":null,\"echo\":false,\"exception\":null,"
              "\"header_ok\":null,\"device\":\"/dev/ttyUSB0\",\"total_back\":false}\n");
}

TEST(ReadSummary, CountsOutcomesAndTakesTheMedianLatencyOfDecodedReadings) {
    Bytes damaged = sampleReply();
    damaged[15] ^= 0x01;
    ReadSummary summary;
    EXPECT_EQ(summary.exitStatus(), kExitWithoutData) << "a run without a reading is no success";
    summary.add(recordOf(sampleReply(), 30.0));
    summary.add(recordOf(sampleReply(), 34.0));
    summary.add(recordOf(sampleReply(), 31.0));
    EXPECT_EQ(summary.exitStatus(), kExitSuccess);

    // A corrupted number is no reading: a historian must not take it for one.
    summary.add(recordOf(damaged, 50.0));
    EXPECT_EQ(summary.exitStatus(), kExitWithoutData);
    summary.add(recordOf({}, std::nullopt));
    summary.add(recordOf(Bytes(8, 0), 100.0));
    EXPECT_EQ(summary.line(), "reads 6  decoded 3  no data 1  ignored 1  bad CRC 1  wrong header 0"
                              "  port lost 0  latency ms min 30.0  median 31.0  max 34.0");
}

} // namespace
} // namespace darq
