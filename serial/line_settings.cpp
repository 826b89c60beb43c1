#include "serial/line_settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace darq {

namespace {

// The rates every serial driver of the supported platforms takes without a custom divisor.
constexpr std::array<int, 11> kStandardRates = {110,  300,   600,   1200,  2400,  4800,
                                                9600, 19200, 38400, 57600, 115200};

struct ParityLetter {
    char letter;
    Parity parity;
};

constexpr std::array<ParityLetter, 5> kParityLetters = {{
    {'n', Parity::None},
    {'e', Parity::Even},
    {'o', Parity::Odd},
    {'m', Parity::Mark},
    {'s', Parity::Space},
}};

std::vector<std::string_view> splitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

// Plain decimal digits only: no sign, no blanks, short enough not to overflow.
std::optional<int> parseNumber(std::string_view field) {
    if (field.empty() || field.size() > 7) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : field) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string quoted(std::string_view field) {
    return "\"" + std::string(field) + "\"";
}

ParsedLineSettings refused(std::string why) {
    return {std::nullopt, std::move(why)};
}

} // namespace

bool LineSettings::operator==(const LineSettings& other) const {
    return baudRate == other.baudRate && parity == other.parity && dataBits == other.dataBits &&
           stopBits == other.stopBits;
}

ParsedLineSettings parseLineSettings(std::string_view text) {
    const std::vector<std::string_view> fields = splitFields(text);
    if (fields.size() != 4) {
        return refused("expected four fields \"rate,parity,data bits,stop bits\" such as "
                       "\"9600,n,8,2\"");
    }

    LineSettings settings;
    const std::optional<int> rate = parseNumber(fields[0]);
    if (!rate) {
        return refused("the rate " + quoted(fields[0]) + " is not a number");
    }
    if (std::find(kStandardRates.begin(), kStandardRates.end(), *rate) == kStandardRates.end()) {
        return refused("the rate " + std::to_string(*rate) +
                       " is not a standard rate from 110 to 115200");
    }
    settings.baudRate = *rate;

    const auto parity =
        fields[1].size() != 1
            ? kParityLetters.end()
            : std::find_if(kParityLetters.begin(), kParityLetters.end(), [&](const auto& entry) {
                  return entry.letter ==
                         std::tolower(static_cast<unsigned char>(fields[1].front()));
              });
    if (parity == kParityLetters.end()) {
        return refused("the parity " + quoted(fields[1]) + " is not one of n, e, o, m, s");
    }
    settings.parity = parity->parity;

    const std::optional<int> dataBits = parseNumber(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8) {
        return refused("the data bits " + quoted(fields[2]) + " are not 5, 6, 7 or 8");
    }
    settings.dataBits = *dataBits;

    const std::optional<int> stopBits = parseNumber(fields[3]);
    if (!stopBits || (*stopBits != 1 && *stopBits != 2)) {
        return refused("the stop bits " + quoted(fields[3]) + " are not 1 or 2");
    }
    settings.stopBits = *stopBits;

    return {settings, {}};
}

std::string formatLineSettings(const LineSettings& settings) {
    const auto parity =
        std::find_if(kParityLetters.begin(), kParityLetters.end(),
                     [&](const auto& entry) { return entry.parity == settings.parity; });
    return std::to_string(settings.baudRate) + "," + parity->letter + "," +
           std::to_string(settings.dataBits) + "," + std::to_string(settings.stopBits);
}

std::string settingsForRatePosition(int position) {
    switch (position) {
    case 0:
        return "1200,n,8,2";
    case 1:
        return "2400,n,8,2";
    case 2:
        return "4800,n,8,2";
    default:
        return std::string(kDefaultSettings);
    }
}

} // namespace darq
