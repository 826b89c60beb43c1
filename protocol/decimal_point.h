#pragma once

#include <cstdint>
#include <string>

namespace darq {

// Places the instrument's decimal point in the decimal text of a reading: `dotplace` characters
// from the right, padding with "0." and zeros when the digits are too few. It works on the text
// alone and never rounds. A leading "-" stays in front of the result ("-5", 2 -> "-0.05").
// No point is added for a count of zero or less.
std::string adddot(const std::string& startstr, std::int16_t dotplace);

} // namespace darq
