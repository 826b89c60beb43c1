#include "protocol/crc16.h"
#include "protocol/decimal_point.h"
#include "protocol/reply.h"

#include <cstdlib>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A display text is an optional "-", digits and at most one point.
bool isDisplayText(const std::string& text) {
    int points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            ++points;
        } else if (!(c >= '0' && c <= '9') && !(c == '-' && i == 0)) {
            return false;
        }
    }
    return points <= 1 && !text.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const darq::Bytes received(data, data + size);
    const darq::ReadOutcome outcome = darq::judgeReply({}, received);
    require(outcome.received == received);

    if (size == 0) {
        require(outcome.kind == darq::ReadOutcome::Kind::NoData);
    } else if (size != darq::kReplyLength) {
        require(outcome.kind == darq::ReadOutcome::Kind::Ignored);
        require(!outcome.reading.has_value());
    } else {
        require(outcome.kind == darq::ReadOutcome::Kind::Decoded);
        require(outcome.reading.has_value());
        require(isDisplayText(outcome.flowText));
        // The total is the high part's digits (none for 0) in front of the low part's text.
        const std::uint16_t high = outcome.reading->totalHigh;
        const std::string highText = high == 0 ? "" : std::to_string(high);
        require(outcome.totalText.compare(0, highText.size(), highText) == 0);
        require(isDisplayText(outcome.totalText.substr(highText.size())));
        // Every data byte is carried by the reading: encoding it again gives the same bytes.
        const darq::Bytes again = darq::encodeReply(received[0], *outcome.reading);
        for (std::size_t i = 3; i < 15; ++i) {
            require(again[i] == received[i]);
        }
        const std::uint16_t check = darq::crc16Modbus(data, darq::kReplyLength - 2);
        require(outcome.checkValueOk == (data[15] == (check & 0xFF) && data[16] == (check >> 8)));
    }

    // The same bytes as a decimal count and a text of digits.
    if (size >= 1) {
        const std::string digits = std::to_string(static_cast<long long>(size) * 7919);
        const std::string placed = darq::adddot(digits, data[0]);
        require(isDisplayText(placed));
        require(placed.size() >= digits.size());
    }
    return 0;
}
