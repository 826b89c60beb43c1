#pragma once

#include "gateway/gateway_options.h"
#include "serial/line_settings.h"

#include <optional>
#include <string>
#include <vector>

namespace darq {

enum class OutputFormat { Text, Csv, Json };

// What darq-read was asked to do. Times in milliseconds.
struct ReadOptions {
    std::string port; // a device path, or COM1 / COM2
    // Read: polled in turn in each cycle, several instruments on one bus. Scan: where to search
    // (by default 0 to 128).
    std::vector<int> addresses = {1};
    // Read: one rate. Scan: the rates to search, in this order (by default 9600, 4800, 2400,
    // 1200). The line is always 8N2.
    std::vector<int> baudRates = {9600};
    int count = 1;         // cycles to run; 0 runs until interrupted
    int intervalMs = 2000; // between the starts of successive cycles
    // The longest wait for a reply after the request left (unset: for a read the window's settle
    // time of the rate, for a scan the wire time of request and reply plus 50 ms).
    std::optional<int> timeoutMs;
    OutputFormat format = OutputFormat::Text;
    bool noHeader = false; // csv without its header line, even at the start of a file
    bool trace = false;
    bool scan = false;      // search the line for instruments
    bool findAll = false;   // with scan: go on after the first instrument found
    bool listPorts = false; // list the machine's serial devices instead of reading
    // Keep reading through a lost port, reopening it, until stopped or the cycles are done.
    bool reconnect = false;
    std::optional<Rs485Mode> rs485; // the port's RS-485 mode, for UARTs that need it
    // Each record to an MQTT broker as well, through the spool; checked by checkGatewayOptions
    // before anything is opened.
    GatewayOptions gateway;
    bool quiet = false; // with --mqtt: no readings on standard output
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

// The longest --timeout and --interval taken, in milliseconds: a minute for a reply, a day
// between cycles. Longer is a typing mistake, and would overflow the timers.
constexpr int kLongestTimeoutMs = 60 * 1000;
constexpr int kLongestIntervalMs = 24 * 60 * 60 * 1000;

// Parses the arguments after the program name. --config FILE adds the long options of FILE, one
// a line, that the arguments do not give; a name or value it refuses is told with FILE:LINE. Each
// option takes its value as the next argument or after "=" ("--count 3", "--count=3"); the short
// forms take it as the next argument or directly ("-c 3", "-c3"). "--" ends the options.
ParsedReadOptions parseReadOptions(const std::vector<std::string>& arguments);

// The synopsis printed after a usage error.
std::string usageText();
// The synopsis with a line on each option, for --help.
std::string helpText();

} // namespace darq
