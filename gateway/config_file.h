#pragma once

#include <optional>
#include <string>
#include <vector>

namespace darq {

// One line of a config file: a long option without its dashes, and its value.
struct ConfigEntry {
    std::string name;                 // "port" for --port
    std::optional<std::string> value; // none for an option that takes none ("trace")
    std::string where;                // "FILE:LINE", for the message about a bad value
};

struct ConfigFile {
    std::vector<ConfigEntry> entries; // in the file's order; none when there is an error
    std::string error;                // "FILE:LINE: reason" or why the file cannot be read
};

// Reads a file of long options, one a line: "name = value", or "name" alone for an option that
// takes no value. Blank lines and lines starting with # are skipped; blanks around the name and
// the value do not count. A name given twice is an error: in a file that is a mistake, not an
// override. Whether a name is an option, and its value a good one, is for the option parser to
// say, naming `where`.
ConfigFile readConfigFile(const std::string& path);

} // namespace darq
