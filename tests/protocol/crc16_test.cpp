#include "protocol/crc16.h"
#include "protocol/read_request.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace darq {
namespace {

// The textbook bit-at-a-time CRC-16/MODBUS over a 16-bit register, written independently of the
// two-halves form under test.
std::uint16_t referenceCrc(const Bytes& data) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

struct CrcCase {
    const char* name;
    Bytes data;
    int low;
    int high;
};

TEST(Crc16, KnownCheckBytes) {
    const std::string check = "123456789";
    const CrcCase cases[] = {
        {"request payload, address 1", {0x01, 0x03, 0x01, 0x03, 0x00, 0x03}, 0xF4, 0x37},
        {"request payload, address 0", {0x00, 0x03, 0x01, 0x03, 0x00, 0x03}, 0xF5, 0xE6},
        {"request payload, address 2", {0x02, 0x03, 0x01, 0x03, 0x00, 0x03}, 0xF4, 0x04},
        {"request payload, address 128", {0x80, 0x03, 0x01, 0x03, 0x00, 0x03}, 0xEA, 0x26},
        {"standard check string", Bytes(check.begin(), check.end()), 0x37, 0x4B},
        {"empty data leaves the initial register", {}, 0xFF, 0xFF},
    };
    for (const CrcCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CRC16(c.data, 0), c.low);
        EXPECT_EQ(CRC16(c.data, 1), c.high);
        EXPECT_EQ(crc16Modbus(c.data.data(), c.data.size()), c.high << 8 | c.low);
    }
}

TEST(Crc16, AnyNonZeroSelectorGivesTheHighByte) {
    const Bytes payload = {0x01, 0x03, 0x01, 0x03, 0x00, 0x03};
    for (int selector : {1, 2, 127, 255}) {
        EXPECT_EQ(CRC16(payload, static_cast<std::uint8_t>(selector)), 0x37) << selector;
    }
}

TEST(Crc16, MatchesBitwiseReferenceOnRandomData) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> length(1, 64);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        Bytes data(static_cast<std::size_t>(length(random)));
        for (std::uint8_t& b : data) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        const std::uint16_t expected = referenceCrc(data);
        ASSERT_EQ(CRC16(data, 0), expected & 0xFF);
        ASSERT_EQ(CRC16(data, 1), expected >> 8);
    }
}

TEST(ReadRequest, FramesOnTheWire) {
    const struct {
        int address;
        ReadRequest frame;
    } cases[] = {
        {0, {0x00, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF5, 0xE6}},
        {1, {0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x37}},
        {2, {0x02, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x04}},
        {128, {0x80, 0x03, 0x01, 0x03, 0x00, 0x03, 0xEA, 0x26}},
    };
    for (const auto& c : cases) {
        const std::optional<ReadRequest> frame = buildReadRequest(c.address);
        ASSERT_TRUE(frame.has_value()) << c.address;
        EXPECT_EQ(*frame, c.frame) << c.address;
        EXPECT_TRUE(isReadRequest(Bytes(frame->begin(), frame->end())));
    }
}

TEST(ReadRequest, AddressesOutsideTheBusAreRefused) {
    for (int address : {-1, 129, 255, 256, 100000}) {
        EXPECT_FALSE(buildReadRequest(address).has_value()) << address;
    }
}

TEST(ReadRequest, RecognisesOnlyIntactRequests) {
    Bytes corrupted = {0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x38};
    EXPECT_FALSE(isReadRequest(corrupted));
    EXPECT_FALSE(isReadRequest({0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4}));
}

} // namespace
} // namespace darq
