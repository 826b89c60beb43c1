#pragma once

#include <optional>
#include <string>
#include <vector>

namespace darq {

enum class OutputFormat { Text, Csv, Json };

// What darq-read was asked to do. Times in milliseconds.
struct ReadOptions {
    std::string port;             // a device path, or COM1 / COM2
    int address = 1;              // 0 to 128
    int baudRate = 9600;          // 1200, 2400, 4800 or 9600; the line is always 8N2
    int count = 1;                // 0 reads until interrupted
    int intervalMs = 2000;        // between the starts of successive reads
    std::optional<int> timeoutMs; // unset: the window's settle time for the rate
    OutputFormat format = OutputFormat::Text;
    bool trace = false;
};

struct ParsedReadOptions {
    enum class Kind {
        Run,
        Help,       // --help: print the help text and stop
        Version,    // --version: print the version and stop
        UsageError, // nothing may be sent; `error` says why in one line
    };

    Kind kind = Kind::Run;
    ReadOptions options;
    std::string error;
};

// Parses the arguments after the program name. Each option takes its value either as the next
// argument or after "=" ("--count 3" or "--count=3").
ParsedReadOptions parseReadOptions(const std::vector<std::string>& arguments);

// The synopsis printed after a usage error.
std::string usageText();
// The synopsis with a line on each option, for --help.
std::string helpText();

} // namespace darq
