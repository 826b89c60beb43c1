#include "protocol/total_check.h"

#include <charconv>

namespace darq {

namespace {

struct Decimal {
    bool negative = false;
    std::string whole;    // no leading zeros
    std::string fraction; // no trailing zeros
};

bool allDigits(const std::string& text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::optional<Decimal> parseDecimal(const std::string& text) {
    Decimal number;
    std::string digits = text;
    if (!digits.empty() && digits.front() == '-') {
        number.negative = true;
        digits.erase(0, 1);
    }
    const std::size_t point = digits.find('.');
    number.whole = digits.substr(0, point);
    number.fraction = point == std::string::npos ? std::string() : digits.substr(point + 1);
    if ((number.whole.empty() && number.fraction.empty()) || !allDigits(number.whole) ||
        !allDigits(number.fraction)) {
        return std::nullopt;
    }
    number.whole.erase(0, number.whole.find_first_not_of('0'));
    number.fraction.erase(number.fraction.find_last_not_of('0') + 1);
    // "-0.00" is zero, and zero has no sign.
    if (number.whole.empty() && number.fraction.empty()) {
        number.negative = false;
    }
    return number;
}

int compareMagnitudes(const Decimal& a, const Decimal& b) {
    if (a.whole.size() != b.whole.size()) {
        return a.whole.size() < b.whole.size() ? -1 : 1;
    }
    if (const int whole = a.whole.compare(b.whole); whole != 0) {
        return whole < 0 ? -1 : 1;
    }
    const int fraction = a.fraction.compare(b.fraction);
    return fraction == 0 ? 0 : (fraction < 0 ? -1 : 1);
}

} // namespace

std::optional<int> compareDecimals(const std::string& a, const std::string& b) {
    const std::optional<Decimal> first = parseDecimal(a);
    const std::optional<Decimal> second = parseDecimal(b);
    if (!first || !second) {
        return std::nullopt;
    }
    if (first->negative != second->negative) {
        return first->negative ? -1 : 1;
    }
    const int magnitude = compareMagnitudes(*first, *second);
    return first->negative ? -magnitude : magnitude;
}

std::optional<double> decimalValue(const std::string& numberText) {
    double value = 0;
    const char* end = numberText.data() + numberText.size();
    const auto [stop, error] = std::from_chars(numberText.data(), end, value);
    if (error != std::errc() || stop != end || numberText.empty()) {
        return std::nullopt;
    }
    return value;
}

void TotalWatch::check(ReadingRecord& record) {
    if (record.status != ReadingRecord::Status::Completed || !record.outcome.isReading() ||
        !record.address) {
        return;
    }
    const std::string total = record.outcome.totalText;
    const auto [last, first] = lastTotals_.try_emplace(*record.address, total);
    if (first) {
        return;
    }
    const std::optional<int> order = compareDecimals(numberText(total), numberText(last->second));
    if (order && *order < 0) {
        record.totalBackFrom = last->second;
    }
    last->second = total;
}

} // namespace darq
