#include "serial/line_settings.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const darq::ParsedLineSettings parsed = darq::parseLineSettings(text);
    if (parsed.settings.has_value() == !parsed.error.empty()) {
        std::abort(); // exactly one of a result and a reason
    }
    if (parsed.settings) {
        // What was accepted formats to a text that parses to the same settings.
        const darq::ParsedLineSettings again =
            darq::parseLineSettings(darq::formatLineSettings(*parsed.settings));
        if (!again.settings || !(*again.settings == *parsed.settings)) {
            std::abort();
        }
    }
    return 0;
}
