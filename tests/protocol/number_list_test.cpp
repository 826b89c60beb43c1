#include "protocol/number_list.h"

#include <gtest/gtest.h>

namespace darq {
namespace {

TEST(NumberList, TakesNumbersAndRangesAndRefusesWhatCouldHideATypingMistake) {
    const struct {
        const char* text;
        std::vector<int> values; // empty: refused
    } cases[] = {
        {"1", {1}},
        {"1,3,10-12", {1, 3, 10, 11, 12}},
        {"5,1-3,2", {5, 1, 2, 3}},
        {"0-128", {}},
        {"128", {128}},
        {"", {}},
        {"1,,3", {}},
        {"3,", {}},
        {"20-10", {}},
        {"129", {}},
        {"1-129", {}},
        {"-1", {}},
        {" 1", {}},
        {"1-", {}},
        {"0x10", {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        const NumberList list = parseNumberList(row.text, 0, 128);
        if (std::string(row.text) == "0-128") {
            EXPECT_EQ(list.values.size(), 129u);
            continue;
        }
        EXPECT_EQ(list.values, row.values);
        EXPECT_EQ(list.error.empty(), !row.values.empty()) << list.error;
    }
}

} // namespace
} // namespace darq
