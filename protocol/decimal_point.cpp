#include "protocol/decimal_point.h"

namespace darq {

std::string adddot(const std::string& startstr, std::int16_t dotplace) {
    if (dotplace <= 0) {
        return startstr;
    }
    // The sign is not a digit: placing the point among "-5" as if it were gives "0.-5".
    if (!startstr.empty() && startstr.front() == '-') {
        return "-" + adddot(startstr.substr(1), dotplace);
    }
    const std::size_t places = static_cast<std::size_t>(dotplace);
    const std::size_t length = startstr.size();
    if (places < length) {
        return startstr.substr(0, length - places) + "." + startstr.substr(length - places);
    }
    return "0." + std::string(places - length, '0') + startstr;
}

} // namespace darq
