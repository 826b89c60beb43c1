#include "protocol/crc16.h"
#include "protocol/reply.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace darq {
namespace {

// A 17-byte reply with the given twelve data bytes (offsets 3 to 14) and a correct check value.
Bytes replyWithData(const Bytes& data) {
    Bytes reply(3 + data.size());
    reply[0] = 0x01;
    reply[1] = 0x03;
    reply[2] = 0x0C;
    std::copy(data.begin(), data.end(), reply.begin() + 3);
    const std::uint16_t check = crc16Modbus(reply.data(), reply.size());
    reply.push_back(static_cast<std::uint8_t>(check & 0xFF));
    reply.push_back(static_cast<std::uint8_t>(check >> 8));
    return reply;
}

TEST(DecodeReply, DisplayTexts) {
    const struct {
        const char* name;
        Bytes data; // reply offsets 3..14
        const char* flow;
        const char* total;
    } cases[] = {
        {"worked example",
         {0x00, 0x01, 0xE2, 0x40, 0x02, 0x00, 0x00, 0x00, 0xBC, 0x61, 0x4E, 0x03},
         "1234.56",
         "12345.678"},
        {"high part 7 in front",
         {0x00, 0x01, 0xE2, 0x40, 0x02, 0x00, 0x07, 0x00, 0xBC, 0x61, 0x4E, 0x03},
         "1234.56",
         "712345.678"},
        {"high part 1", {0x00, 0x01, 0x05, 0x40, 0x00, 0x00, 0x01, 0, 0, 0, 5, 0}, "66880", "15"},
        {"large flow", {0x12, 0x03, 0x04, 0x05, 0x00, 0, 0, 0, 0, 0, 0, 0}, "302187525", "0"},
        {"negative flow", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0}, "-1", "0"},
        {"negative flow with places",
         {0xFF, 0xFF, 0xFF, 0xFB, 0x02, 0, 0, 0, 0, 0, 0, 0},
         "-0.05",
         "0"},
        {"most negative flow",
         {0x80, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0},
         "-2147483648",
         "0"},
        {"places equal to digits",
         {0x00, 0x00, 0x00, 0x7B, 0x03, 0, 0, 0, 0, 0, 0, 0},
         "0.123",
         "0"},
        {"more places than digits",
         {0x00, 0x00, 0x00, 0x05, 0x03, 0, 0, 0, 0, 0, 0, 0},
         "0.005",
         "0"},
        {"high part is unsigned", {0, 0, 0, 0, 0, 0x80, 0x00, 0, 0, 0, 9, 0}, "0", "327689"},
        {"largest high part", {0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 9, 1}, "0", "655350.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadOutcome outcome = judgeReply({}, replyWithData(c.data));
        ASSERT_EQ(outcome.kind, ReadOutcome::Kind::Decoded);
        EXPECT_EQ(outcome.flowText, c.flow);
        EXPECT_EQ(outcome.totalText, c.total);
        EXPECT_TRUE(outcome.checkValueOk);
    }
}

TEST(DecodeReply, OutcomeByLength) {
    const struct {
        std::size_t length;
        ReadOutcome::Kind kind;
    } cases[] = {
        {0, ReadOutcome::Kind::NoData},   {1, ReadOutcome::Kind::Ignored},
        {8, ReadOutcome::Kind::Ignored},  {16, ReadOutcome::Kind::Ignored},
        {17, ReadOutcome::Kind::Decoded}, {18, ReadOutcome::Kind::Ignored},
        {34, ReadOutcome::Kind::Ignored},
    };
    for (const auto& c : cases) {
        const ReadOutcome outcome = judgeReply({}, Bytes(c.length, 0x30));
        EXPECT_EQ(outcome.kind, c.kind) << c.length;
        EXPECT_EQ(outcome.received.size(), c.length);
        EXPECT_EQ(outcome.reading.has_value(), c.kind == ReadOutcome::Kind::Decoded);
    }
}

TEST(DecodeReply, BadCheckValueIsDecodedButFlagged) {
    Bytes reply = replyWithData({0x00, 0x01, 0xE2, 0x40, 0x02, 0, 0, 0x00, 0xBC, 0x61, 0x4E, 0x03});
    reply[16] ^= 0x01;
    const ReadOutcome outcome = judgeReply({}, reply);
    ASSERT_EQ(outcome.kind, ReadOutcome::Kind::Decoded);
    EXPECT_FALSE(outcome.checkValueOk);
    EXPECT_EQ(outcome.flowText, "1234.56");
}

TEST(EncodeReply, RoundTripsThroughTheDecoder) {
    const Reading reading{-123456, 3, 0xFFFE, 2147483647, 2};
    const Bytes reply = encodeReply(7, reading);
    ASSERT_EQ(reply.size(), kReplyLength);
    EXPECT_EQ(reply[0], 7);
    EXPECT_EQ(reply[2], 12);
    const ReadOutcome outcome = judgeReply({}, reply);
    EXPECT_TRUE(outcome.checkValueOk);
    EXPECT_EQ(outcome.reading, reading);
    EXPECT_EQ(outcome.flowText, "-123.456");
    EXPECT_EQ(outcome.totalText, "6553421474836.47");
}

} // namespace
} // namespace darq
