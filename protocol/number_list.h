#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace darq {

// A list of whole numbers as a technician types it: comma-separated items, each a number "N" or
// a range "N-M" with N <= M, all within [lowest, highest]: "1,3,10-20". The values keep the
// order they were given in, each once.
struct NumberList {
    std::vector<int> values; // set when the text is well formed
    std::string error;       // why it is not, in one line, otherwise
};

NumberList parseNumberList(std::string_view text, int lowest, int highest);

// A whole number in plain decimal digits, nothing else: a sign, a blank or a unit would hide a
// typing mistake in a script. None when the text is not one or does not fit an int.
std::optional<int> parsePlainNumber(std::string_view text);

} // namespace darq
