#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "read/diagnosis.h"
#include "read/read_summary.h"
#include "read/reading_output.h"
#include "read/reply_completion.h"

#include <gtest/gtest.h>

#include <optional>
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
        ReplyCollector collector(20ms, 100ms);
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

TEST(Diagnosis, TellsWhatCameBack) {
    const Bytes request = requestBytes(1);
    Bytes echoThenReply = request;
    const Bytes reply = sampleReply();
    echoThenReply.insert(echoThenReply.end(), reply.begin(), reply.end());
    Bytes damaged = reply;
    damaged[16] ^= 0xFF;

    const std::vector<std::pair<Bytes, std::optional<Diagnosis>>> cases = {
        {{}, Diagnosis::Silence},
        {request, Diagnosis::EchoOnly},
        {echoThenReply, Diagnosis::EchoThenOther},
        {Bytes(reply.begin(), reply.begin() + 9), Diagnosis::WrongLength},
        {damaged, Diagnosis::BadCheckValue},
        {reply, std::nullopt},
    };
    for (const auto& [received, expected] : cases) {
        SCOPED_TRACE(hexText(received));
        EXPECT_EQ(diagnose(request, received), expected);
    }
    EXPECT_EQ(diagnosisText(Diagnosis::EchoThenOther, request, echoThenReply),
              "the echo of our own request came back, then 17 more bytes: the RS-485 adapter "
              "echoes what it sends; turn its echo off");
}

ReadingRecord recordOf(const Bytes& received, std::optional<double> latencyMs) {
    ReadingRecord record;
    record.time = std::chrono::system_clock::time_point(1714552200125ms);
    record.address = 1;
    record.request = requestBytes(1);
    record.outcome = decodeReply(received);
    record.latencyMs = latencyMs;
    return record;
}

TEST(ReadingOutput, MachineFormatsLeaveUndecodedFieldsEmpty) {
    const ReadingRecord decoded = recordOf(sampleReply(), 54.31);
    const ReadingRecord nothing = recordOf({}, std::nullopt);
    const ReadingRecord partial = recordOf(Bytes(5, 0x01), 40.0);

    EXPECT_EQ(formatReading(OutputFormat::Csv, decoded),
              "2024-05-01T08:30:00.125Z,1,decoded,1234.56,12345.678,17,ok,54.3\n");
    EXPECT_EQ(formatReading(OutputFormat::Csv, nothing),
              "2024-05-01T08:30:00.125Z,1,no-data,,,0,,\n");
    EXPECT_EQ(formatReading(OutputFormat::Csv, partial),
              "2024-05-01T08:30:00.125Z,1,ignored,,,5,,40.0\n");
    EXPECT_EQ(formatReading(OutputFormat::Json, nothing),
              "{\"time\":\"2024-05-01T08:30:00.125Z\",\"address\":1,\"outcome\":\"no-data\","
              "\"flow\":null,\"total\":null,\"bytes\":0,\"crc_ok\":null,\"latency_ms\":null}\n");
}

TEST(ReadSummary, CountsOutcomesAndTakesTheMedianLatencyOfDecodedReadings) {
    Bytes damaged = sampleReply();
    damaged[15] ^= 0x01;
    ReadSummary summary;
    EXPECT_EQ(summary.exitStatus(), kExitSomeNotDecoded) << "a run without a reading is no success";
    summary.add(recordOf(sampleReply(), 30.0));
    summary.add(recordOf(damaged, 50.0));
    summary.add(recordOf(sampleReply(), 34.0));
    summary.add(recordOf(sampleReply(), 31.0));
    EXPECT_EQ(summary.exitStatus(), kExitAllDecoded);

    summary.add(recordOf({}, std::nullopt));
    summary.add(recordOf(Bytes(8, 0), 100.0));
    EXPECT_EQ(summary.exitStatus(), kExitSomeNotDecoded);
    EXPECT_EQ(summary.line(), "reads 6  decoded 4  no data 1  ignored 1  bad CRC 1  latency ms "
                              "min 30.0  median 32.5  max 50.0");
}

} // namespace
} // namespace darq
