#include "read/read_options.h"

#include "protocol/number_list.h"
#include "protocol/read_request.h"
#include "serial/instrument_search.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

namespace darq {

namespace {

constexpr std::array<int, 4> kRates = {1200, 2400, 4800, 9600};

// The short forms, as other serial pollers have them.
const std::map<std::string, std::string> kShortOptions = {
    {"-p", "--port"},     {"-a", "--address"}, {"-b", "--baud"},   {"-c", "--count"},
    {"-i", "--interval"}, {"-t", "--timeout"}, {"-f", "--format"}, {"-v", "--trace"},
    {"-h", "--help"},     {"-V", "--version"},
};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    ParsedReadOptions parse() {
        for (next_ = 0; next_ < arguments_.size() && result_.error.empty();) {
            const auto [name, inlineValue] = split(arguments_[next_++]);
            if (name == "--help") {
                result_.kind = ParsedReadOptions::Kind::Help;
                return result_;
            }
            if (name == "--version") {
                result_.kind = ParsedReadOptions::Kind::Version;
                return result_;
            }
            takeOption(name, inlineValue);
        }
        if (result_.error.empty()) {
            checkTogether();
        }
        return result_;
    }

private:
    // "--count=3" and "-c3" carry their value; the short forms stand for the long ones.
    std::pair<std::string, std::optional<std::string>> split(const std::string& argument) const {
        if (argument.rfind("--", 0) == 0) {
            const std::size_t equals = argument.find('=');
            if (equals == std::string::npos) {
                return {argument, std::nullopt};
            }
            return {argument.substr(0, equals), argument.substr(equals + 1)};
        }
        const auto shortForm = kShortOptions.find(argument.substr(0, 2));
        if (argument.size() >= 2 && shortForm != kShortOptions.end()) {
            if (argument.size() == 2) {
                return {shortForm->second, std::nullopt};
            }
            return {shortForm->second, argument.substr(2)};
        }
        return {argument, std::nullopt};
    }

    void takeOption(const std::string& name, const std::optional<std::string>& inlineValue) {
        if (name.rfind("-", 0) != 0) {
            fail("unexpected argument " + quoted(name));
            return;
        }
        if (bool* flag = flagFor(name)) {
            if (inlineValue) {
                fail(name + " takes no value");
                return;
            }
            *flag = true;
            return;
        }
        if (!isValueOption(name)) {
            fail("unknown option " + name);
            return;
        }
        const std::optional<std::string> value = inlineValue ? inlineValue : takeNextArgument();
        if (!value) {
            fail(name + " needs a value");
            return;
        }
        given_.push_back(name);
        takeValue(name, *value);
    }

    bool* flagFor(const std::string& name) {
        ReadOptions& options = result_.options;
        if (name == "--trace") {
            return &options.trace;
        }
        if (name == "--scan") {
            return &options.scan;
        }
        if (name == "--all") {
            return &options.findAll;
        }
        if (name == "--list-ports") {
            return &options.listPorts;
        }
        return nullptr;
    }

    static bool isValueOption(const std::string& name) {
        return name == "--port" || name == "--address" || name == "--baud" || name == "--count" ||
               name == "--interval" || name == "--timeout" || name == "--format";
    }

    // An option in place of the value means the value was left out; "-1" is a value, and a
    // wrong one for every option here.
    std::optional<std::string> takeNextArgument() {
        if (next_ >= arguments_.size()) {
            return std::nullopt;
        }
        const std::string& next = arguments_[next_];
        const bool isOption =
            next.rfind("--", 0) == 0 || (next.size() >= 2 && next[0] == '-' &&
                                         std::isalpha(static_cast<unsigned char>(next[1])));
        if (isOption) {
            return std::nullopt;
        }
        return arguments_[next_++];
    }

    bool wasGiven(const std::string& name) const {
        return std::find(given_.begin(), given_.end(), name) != given_.end();
    }

    void takeValue(const std::string& name, const std::string& value) {
        ReadOptions& options = result_.options;
        if (name == "--port") {
            if (value.empty()) {
                fail("--port needs a device");
                return;
            }
            options.port = value;
        } else if (name == "--address") {
            NumberList addresses = parseNumberList(value, kMinAddress, kMaxAddress);
            if (!addresses.error.empty()) {
                fail("the address must be a number from 0 to 128 or a list such as 1,3,10-20, "
                     "not " +
                     quoted(value) + ": " + addresses.error);
                return;
            }
            options.addresses = std::move(addresses.values);
        } else if (name == "--baud") {
            NumberList rates = parseNumberList(value, kRates.front(), kRates.back());
            const bool allKnown = std::all_of(rates.values.begin(), rates.values.end(), [](int r) {
                return std::find(kRates.begin(), kRates.end(), r) != kRates.end();
            });
            if (!rates.error.empty() || !allKnown) {
                fail("the rate must be 1200, 2400, 4800 or 9600 (a list for --scan), not " +
                     quoted(value));
                return;
            }
            options.baudRates = std::move(rates.values);
        } else if (name == "--count") {
            const std::optional<int> count = parsePlainNumber(value);
            if (!count) {
                fail("the count must be a whole number (0 reads until interrupted), not " +
                     quoted(value));
                return;
            }
            options.count = *count;
        } else if (name == "--interval") {
            const std::optional<int> interval = parsePlainNumber(value);
            if (!interval) {
                fail("the interval must be a whole number of milliseconds, not " + quoted(value));
                return;
            }
            options.intervalMs = *interval;
        } else if (name == "--timeout") {
            const std::optional<int> timeout = parsePlainNumber(value);
            if (!timeout || *timeout == 0) {
                fail("the timeout must be a positive whole number of milliseconds, not " +
                     quoted(value));
                return;
            }
            options.timeoutMs = *timeout;
        } else if (name == "--format") {
            if (value == "text") {
                options.format = OutputFormat::Text;
            } else if (value == "csv") {
                options.format = OutputFormat::Csv;
            } else if (value == "json") {
                options.format = OutputFormat::Json;
            } else {
                fail("the format must be text, csv or json, not " + quoted(value));
            }
        }
    }

    // What only makes sense together, and the search's own defaults.
    void checkTogether() {
        ReadOptions& options = result_.options;
        if (options.port.empty() && !options.listPorts) {
            fail("--port is required");
        } else if (options.findAll && !options.scan) {
            fail("--all goes with --scan");
        } else if (options.scan && (wasGiven("--count") || wasGiven("--interval"))) {
            fail("--count and --interval do not go with --scan");
        } else if (!options.scan && options.baudRates.size() > 1) {
            fail("several rates go with --scan only");
        }
        if (options.scan) {
            if (!wasGiven("--address")) {
                options.addresses.clear(); // the whole bus
            }
            if (!wasGiven("--baud")) {
                options.baudRates = SearchPlan().baudRates;
            }
        }
    }

    void fail(const std::string& reason) {
        if (result_.error.empty()) {
            result_.kind = ParsedReadOptions::Kind::UsageError;
            result_.error = reason;
        }
    }

    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
    std::vector<std::string> given_;
    ParsedReadOptions result_;
};

} // namespace

ParsedReadOptions parseReadOptions(const std::vector<std::string>& arguments) {
    return Parser(arguments).parse();
}

std::string usageText() {
    return "Usage: darq-read -p DEVICE [-a LIST] [-b RATE] [-c N] [-i MS] [-t MS] [-f FORMAT] "
           "[-v]\n"
           "  or:  darq-read -p DEVICE --scan [--all] [-a LIST] [-b LIST] [-t MS] [-f FORMAT] "
           "[-v]\n";
}

std::string helpText() {
    return usageText() +
           "Reads the instantaneous and accumulated flow from a DARQ flow totalizer, or searches\n"
           "the line for instruments of unknown address and rate.\n"
           "\n"
           "Options:\n"
           "  -p, --port DEVICE     serial device path (/dev/ttyUSB0, ...); a bare name ttyXXX\n"
           "                        means /dev/ttyXXX, other names without a / are relative\n"
           "                        paths; COM1 and COM2 map as in the window (DARQ_COM1,\n"
           "                        DARQ_COM2, else the window's assignment, else the first\n"
           "                        and second USB adapter, else /dev/ttyS0, /dev/ttyS1)\n"
           "  -a, --address LIST    instrument bus address 0 to 128 (default 1); a list such as\n"
           "                        1,3,10-20 polls each in turn; with --scan, where to search\n"
           "                        (default 0-128, address 1 first)\n"
           "  -b, --baud RATE       line rate 1200, 2400, 4800 or 9600, always 8N2 (default\n"
           "                        9600); with --scan a list (default 9600,4800,2400,1200)\n"
           "  -c, --count N         cycles to take, 0 = until interrupted (default 1)\n"
           "  -i, --interval MS     between the starts of successive cycles (default 2000)\n"
           "  -t, --timeout MS      longest wait for a reply (default: the window's settle\n"
           "                        time); with --scan, the instrument's turnaround allowance\n"
           "                        on top of the wire time (default 50)\n"
           "  -f, --format FORMAT   text, csv or json (default text)\n"
           "  -v, --trace           every frame sent and received, in hex, on stderr\n"
           "      --scan            search every rate and address given for an instrument\n"
           "      --all             with --scan, go on after the first instrument found\n"
           "      --list-ports      list the machine's serial devices and what COM1 and COM2\n"
           "                        mean now, then exit (needs no --port)\n"
           "  -h, --help            this help, then exit\n"
           "  -V, --version         the version, then exit\n"
           "\n"
           "Exit status: 0 every reading decoded (with --scan: an instrument found), 1 a reading\n"
           "gave no data or was ignored (with --scan: none found), 2 the port cannot be used,\n"
           "64 usage error, 74 the output could not be written.\n";
}

} // namespace darq
