#include "protocol/decimal_point.h"

#include <gtest/gtest.h>

namespace darq {
namespace {

TEST(Adddot, PlacesThePoint) {
    const struct {
        const char* text;
        std::int16_t places;
        std::string expected;
    } cases[] = {
        {"12345", 2, "123.45"},
        {"12345", 0, "12345"},
        {"7", 0, "7"},       // zero places never add a point
        {"123", 3, "0.123"}, // as many places as digits: "0." and no zeros
        {"5", 3, "0.005"},   // more places than digits: the missing zeros
        {"0", 1, "0.0"},
        {"", 2, "0.00"},
        {"12345", 4, "1.2345"},
        {"-12345", 2, "-123.45"}, // the sign stays in front
        {"-5", 1, "-0.5"},
        {"-5", 2, "-0.05"},
        {"-5", 3, "-0.005"},
        {"-123", 3, "-0.123"},
        {"42", 255, "0." + std::string(253, '0') + "42"},
        {"42", -1, "42"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(adddot(c.text, c.places), c.expected) << c.text << " " << c.places;
    }
}

TEST(Adddot, LeavesItsInputUnchanged) {
    const std::string text = "12345";
    adddot(text, 2);
    EXPECT_EQ(text, "12345");
}

} // namespace
} // namespace darq
