#pragma once

#include "protocol/reading_record.h"

#include <map>
#include <optional>
#include <string>

namespace darq {

// Two readings' numbers as numberText() gives them ("-7123.45") compared exactly, digit by digit:
// negative, zero or positive as `a` is below, equal to or above `b`. A total has up to fifteen
// digits, more than a double keeps. None when either is not a plain decimal number.
std::optional<int> compareDecimals(const std::string& a, const std::string& b);

// A reading's number for drawing, whatever the locale; none when the text is not a number.
std::optional<double> decimalValue(const std::string& numberText);

// The totalizer of each address, followed from one clean reading to the next. A totalizer only
// counts up: one that goes back was reset, had its registers read in another order, or is a
// second instrument answering for the first. How far it should have risen is not judged: the
// instrument's units of flow and of total are not known here, so the flow explains no rise.
class TotalWatch {
public:
    // Notes the total of `record` when it is a clean reading; when it is below the last clean
    // reading of the same address, sets `record.totalBackFrom` to that reading's total. The lower
    // total is then the one the next reading is compared with, so that a reset is told once.
    void check(ReadingRecord& record);

private:
    std::map<int, std::string> lastTotals_; // by address, the display text
};

} // namespace darq
