#include "protocol/number_list.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace darq {

namespace {

NumberList refused(std::string why) {
    return {{}, std::move(why)};
}

} // namespace

std::optional<int> parsePlainNumber(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

NumberList parseNumberList(std::string_view text, int lowest, int highest) {
    NumberList list;
    const std::string range = std::to_string(lowest) + " to " + std::to_string(highest);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(start, comma - start);
        if (item.empty()) {
            return refused("an empty item in \"" + std::string(text) + "\"");
        }
        const std::size_t dash = item.find('-');
        const std::optional<int> first = parsePlainNumber(item.substr(0, dash));
        const std::optional<int> last =
            dash == std::string_view::npos ? first : parsePlainNumber(item.substr(dash + 1));
        if (!first || !last) {
            return refused("\"" + std::string(item) + "\" is not a number N or a range N-M");
        }
        if (*first > *last) {
            return refused("the range \"" + std::string(item) + "\" runs backwards");
        }
        if (*first < lowest || *last > highest) {
            return refused("\"" + std::string(item) + "\" is outside " + range);
        }
        for (int value = *first; value <= *last; ++value) {
            if (std::find(list.values.begin(), list.values.end(), value) == list.values.end()) {
                list.values.push_back(value);
            }
        }
        if (comma == std::string_view::npos) {
            return list;
        }
        start = comma + 1;
    }
}

} // namespace darq
