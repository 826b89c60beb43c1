#pragma once

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

} // namespace darq
