#include "read/read_options.h"

#include "protocol/read_request.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace darq {

namespace {

constexpr std::array<int, 4> kRates = {1200, 2400, 4800, 9600};

// Plain decimal digits only: a sign, blanks or a unit would hide a typing mistake in a script.
std::optional<int> parseWholeNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    ParsedReadOptions parse() {
        for (next_ = 0; next_ < arguments_.size() && result_.error.empty();) {
            const std::string argument = arguments_[next_++];
            if (argument == "--help" || argument == "-h") {
                result_.kind = ParsedReadOptions::Kind::Help;
                return result_;
            }
            if (argument == "--version" || argument == "-V") {
                result_.kind = ParsedReadOptions::Kind::Version;
                return result_;
            }
            takeOption(argument);
        }
        if (result_.error.empty() && result_.options.port.empty()) {
            fail("--port is required");
        }
        return result_;
    }

private:
    void takeOption(const std::string& argument) {
        if (argument.rfind("--", 0) != 0) {
            fail("unexpected argument " + quoted(argument));
            return;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        std::optional<std::string> inlineValue;
        if (equals != std::string::npos) {
            inlineValue = argument.substr(equals + 1);
        }

        if (name == "--trace") {
            if (inlineValue) {
                fail("--trace takes no value");
                return;
            }
            result_.options.trace = true;
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
        takeValue(name, *value);
    }

    static bool isValueOption(const std::string& name) {
        return name == "--port" || name == "--address" || name == "--baud" || name == "--count" ||
               name == "--interval" || name == "--timeout" || name == "--format";
    }

    // An option in place of the value means the value was left out.
    std::optional<std::string> takeNextArgument() {
        if (next_ >= arguments_.size() || arguments_[next_].rfind("--", 0) == 0) {
            return std::nullopt;
        }
        return arguments_[next_++];
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
            const std::optional<int> address = parseWholeNumber(value);
            if (!address || !isValidAddress(*address)) {
                fail("the address must be a number from 0 to 128, not " + quoted(value));
                return;
            }
            options.address = *address;
        } else if (name == "--baud") {
            const std::optional<int> rate = parseWholeNumber(value);
            if (!rate || std::find(kRates.begin(), kRates.end(), *rate) == kRates.end()) {
                fail("the rate must be 1200, 2400, 4800 or 9600, not " + quoted(value));
                return;
            }
            options.baudRate = *rate;
        } else if (name == "--count") {
            const std::optional<int> count = parseWholeNumber(value);
            if (!count) {
                fail("the count must be a whole number (0 reads until interrupted), not " +
                     quoted(value));
                return;
            }
            options.count = *count;
        } else if (name == "--interval") {
            const std::optional<int> interval = parseWholeNumber(value);
            if (!interval) {
                fail("the interval must be a whole number of milliseconds, not " + quoted(value));
                return;
            }
            options.intervalMs = *interval;
        } else if (name == "--timeout") {
            const std::optional<int> timeout = parseWholeNumber(value);
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

    void fail(const std::string& reason) {
        if (result_.error.empty()) {
            result_.kind = ParsedReadOptions::Kind::UsageError;
            result_.error = reason;
        }
    }

    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
    ParsedReadOptions result_;
};

} // namespace

ParsedReadOptions parseReadOptions(const std::vector<std::string>& arguments) {
    return Parser(arguments).parse();
}

std::string usageText() {
    return "usage: darq-read --port DEVICE [--address N] [--baud 1200|2400|4800|9600] "
           "[--count N]\n"
           "                 [--interval MS] [--timeout MS] [--format text|csv|json] [--trace]\n";
}

std::string helpText() {
    return usageText() +
           "\n"
           "Reads the instantaneous and accumulated flow from a DARQ flow totalizer.\n"
           "\n"
           "  --port DEVICE     serial device path (/dev/ttyUSB0, ...); a bare name ttyXXX means\n"
           "                    /dev/ttyXXX, other names without a / are relative paths; COM1\n"
           "                    and COM2 map as in the window (DARQ_COM1, DARQ_COM2, else\n"
           "                    /dev/ttyS0, /dev/ttyS1)\n"
           "  --address N       instrument bus address, 0 to 128 (default 1)\n"
           "  --baud RATE       line rate, always 8N2 (default 9600)\n"
           "  --count N         readings to take, 0 = until interrupted (default 1)\n"
           "  --interval MS     between the starts of successive reads (default 2000)\n"
           "  --timeout MS      longest wait for a reply (default: the window's settle time)\n"
           "  --format FORMAT   text, csv or json (default text)\n"
           "  --trace           every frame sent and received, in hex, on stderr\n"
           "  --help            this help, then exit\n"
           "  --version         the version, then exit\n"
           "\n"
           "Exit status: 0 every reading decoded, 1 a reading gave no data or was ignored,\n"
           "2 the port cannot be used, 64 usage error, 74 the output could not be written.\n";
}

} // namespace darq
