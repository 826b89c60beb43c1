// A totalizer that goes back between two clean readings of one address is flagged, once, and the
// flag reaches darq-read's CSV and JSON.

#include "protocol/read_request.h"
#include "protocol/total_check.h"

#include <gtest/gtest.h>

namespace darq {
namespace {

TEST(CompareDecimals, ComparesDisplayedNumbersExactly) {
    const struct {
        const char* a;
        const char* b;
        std::optional<int> order;
    } cases[] = {
        {"712345.678", "712345.677", 1},
        {"712345.678", "712345.6780", 0},
        {"99.5", "100", -1},
        {"0.05", "0.5", -1},
        {"-1.5", "1", -1},
        {"-2", "-1.25", -1},
        {"-0.00", "0", 0},
        // Sixteen digits: a double would take them for equal.
        {"6553512345678.901", "6553512345678.902", -1},
        {"12a", "1", std::nullopt},
        {"", "1", std::nullopt},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(std::string(example.a) + " vs " + example.b);
        EXPECT_EQ(compareDecimals(example.a, example.b), example.order);
    }
}

ReadingRecord readingOf(int address, std::int32_t totalLow, bool checkValueOk = true) {
    ReadingRecord record;
    record.address = address;
    record.baudRate = 9600;
    record.device = "/dev/ttyUSB0";
    const ReadRequest frame = *buildReadRequest(address);
    const Bytes request(frame.begin(), frame.end());
    Bytes reply = encodeReply(std::uint8_t(address), {1250, 2, 0, totalLow, 3});
    if (!checkValueOk) {
        reply.back() ^= 0xFF;
    }
    record.request = request;
    record.outcome = judgeReply(request, reply);
    return record;
}

TEST(TotalWatch, FlagsATotalThatWentBackOnceForItsOwnAddress) {
    const struct {
        int address;
        std::int32_t total;
        bool checkValueOk;
        std::optional<std::string> backFrom;
    } readings[] = {
        {1, 5000, true, std::nullopt},
        {2, 100, true, std::nullopt},  // another instrument, a count of its own
        {1, 5000, true, std::nullopt}, // standing still is no fault
        {1, 10, false, std::nullopt},  // a damaged reply is not a reading
        {1, 6000, true, std::nullopt},
        {1, 20, true, "6.000"}, // reset
        {1, 30, true, std::nullopt},
        {2, 101, true, std::nullopt},
    };
    TotalWatch watch;
    for (const auto& example : readings) {
        SCOPED_TRACE(std::to_string(example.address) + ": " + std::to_string(example.total));
        ReadingRecord record = readingOf(example.address, example.total, example.checkValueOk);
        watch.check(record);
        EXPECT_EQ(record.totalBackFrom, example.backFrom);
        const std::vector<std::string> fields = csvFields(record);
        EXPECT_EQ(csvColumns().back(), "total_back");
        EXPECT_EQ(fields.back(), example.backFrom ? "true" : "false");
        const std::string json = jsonObject(record);
        EXPECT_EQ(json.substr(json.rfind(",\"total_back\":")),
                  example.backFrom ? ",\"total_back\":true}" : ",\"total_back\":false}");
    }
}

} // namespace
} // namespace darq
