#include "sim/options.h"

#include "protocol/number_list.h"
#include "sim/line_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>

namespace darq::sim {

namespace {

std::optional<long long> wholeNumber(const std::string& text, long long low, long long high) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> seedNumber(const std::string& text) {
    if (text.empty() || text[0] == '-') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::optional<double> probability(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0.0 || value > 1.0) {
        return std::nullopt;
    }
    return value;
}

constexpr long long kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr long long kInt32Max = std::numeric_limits<std::int32_t>::max();

// Each option that takes a value: how to store it, and what the value must be.
struct ValueOption {
    std::string expected;
    std::function<bool(SimOptions&, Reading&, const std::string&)> apply;
};

using StoreWhole = std::function<void(SimOptions&, Reading&, long long)>;

ValueOption wholeOption(long long low, long long high, StoreWhole store) {
    return {"a whole number from " + std::to_string(low) + " to " + std::to_string(high),
            [=](SimOptions& options, Reading& reading, const std::string& text) {
                const auto value = wholeNumber(text, low, high);
                if (value) {
                    store(options, reading, *value);
                }
                return value.has_value();
            }};
}

ValueOption probabilityOption(double FaultProbabilities::*field) {
    return {"a probability from 0 to 1",
            [=](SimOptions& options, Reading&, const std::string& text) {
                const auto value = probability(text);
                if (value) {
                    options.faults.*field = *value;
                }
                return value.has_value();
            }};
}

ValueOption pathOption(std::optional<std::string> SimOptions::*field) {
    return {"a path", [=](SimOptions& options, Reading&, const std::string& text) {
                if (text.empty()) {
                    return false;
                }
                options.*field = text;
                return true;
            }};
}

ValueOption rateOption(std::function<void(SimOptions&, int)> store) {
    return {"one of the serial rates, such as 1200, 2400, 4800 or 9600",
            [=](SimOptions& options, Reading&, const std::string& text) {
                const auto value = wholeNumber(text, 1, kInt32Max);
                if (!value || !speedOf(static_cast<int>(*value))) {
                    return false;
                }
                store(options, static_cast<int>(*value));
                return true;
            }};
}

const std::map<std::string, ValueOption>& valueOptions() {
    static const std::map<std::string, ValueOption> table = {
        {"--device", pathOption(&SimOptions::devicePath)},
        {"--link", pathOption(&SimOptions::linkPath)},
        {"--log", pathOption(&SimOptions::logPath)},
        {"--baud", rateOption([](SimOptions& options, int rate) { options.baudRate = rate; })},
        {"--address",
         {"a bus address from 0 to 255 or a list such as 1,5,9-14",
          [](SimOptions& options, Reading&, const std::string& text) {
              NumberList addresses = parseNumberList(text, 0, 255);
              if (!addresses.error.empty()) {
                  return false;
              }
              options.addresses = std::move(addresses.values);
              return true;
          }}},
        {"--rate", rateOption([](SimOptions& options, int rate) { options.answerRate = rate; })},
        {"--flow", wholeOption(kInt32Min, kInt32Max,
                               [](SimOptions&, Reading& reading, long long value) {
                                   reading.flow = static_cast<std::int32_t>(value);
                               })},
        {"--flow-decimals", wholeOption(0, 255,
                                        [](SimOptions&, Reading& reading, long long value) {
                                            reading.flowDecimals = static_cast<std::uint8_t>(value);
                                        })},
        {"--total-high", wholeOption(0, 65535,
                                     [](SimOptions&, Reading& reading, long long value) {
                                         reading.totalHigh = static_cast<std::uint16_t>(value);
                                     })},
        {"--total-low", wholeOption(kInt32Min, kInt32Max,
                                    [](SimOptions&, Reading& reading, long long value) {
                                        reading.totalLow = static_cast<std::int32_t>(value);
                                    })},
        {"--total-decimals", wholeOption(0, 255,
                                         [](SimOptions&, Reading& reading, long long value) {
                                             reading.totalDecimals =
                                                 static_cast<std::uint8_t>(value);
                                         })},
        {"--turnaround", wholeOption(0, 10000,
                                     [](SimOptions& options, Reading&, long long value) {
                                         options.turnaroundMs = static_cast<int>(value);
                                     })},
        {"--no-reply", probabilityOption(&FaultProbabilities::noReply)},
        {"--short-reply", probabilityOption(&FaultProbabilities::shortReply)},
        {"--extra-bytes", probabilityOption(&FaultProbabilities::extraBytes)},
        {"--bad-crc", probabilityOption(&FaultProbabilities::badCrc)},
        {"--noise", probabilityOption(&FaultProbabilities::noise)},
        {"--echo", probabilityOption(&FaultProbabilities::echo)},
        {"--seed",
         {"a whole number from 0 to 18446744073709551615",
          [](SimOptions& options, Reading&, const std::string& text) {
              const auto value = seedNumber(text);
              if (value) {
                  options.seed = *value;
              }
              return value.has_value();
          }}},
    };
    return table;
}

bool isFixedValueOption(const std::string& name) {
    return name == "--flow" || name == "--flow-decimals" || name == "--total-high" ||
           name == "--total-low" || name == "--total-decimals";
}

OptionsParse refused(const std::string& reason) {
    OptionsParse parse;
    parse.error = reason;
    return parse;
}

} // namespace

OptionsParse parseOptions(const std::vector<std::string>& arguments) {
    SimOptions options;
    Reading fixedReading;
    bool valuesFixed = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != name.npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h") {
            OptionsParse parse;
            parse.helpRequested = true;
            return parse;
        }
        if (name == "--version" || name == "-V") {
            OptionsParse parse;
            parse.versionRequested = true;
            return parse;
        }
        if (name == "--no-pacing") {
            if (inlineValue) {
                return refused("option --no-pacing takes no value");
            }
            options.pacing = false;
            continue;
        }
        const auto found = valueOptions().find(name);
        if (found == valueOptions().end()) {
            return refused("unknown option " + arguments[i]);
        }
        if (!inlineValue && i + 1 >= arguments.size()) {
            return refused("option " + name + " needs a value");
        }
        const std::string value = inlineValue ? *inlineValue : arguments[++i];
        if (!found->second.apply(options, fixedReading, value)) {
            return refused("option " + name + " wants " + found->second.expected + ", not \"" +
                           value + "\"");
        }
        valuesFixed = valuesFixed || isFixedValueOption(name);
    }
    if (valuesFixed) {
        options.fixedReading = fixedReading;
    }
    OptionsParse parse;
    parse.options = options;
    return parse;
}

std::string usageText() {
    return "usage: darq-sim [--device PATH] [--baud RATE] [--link PATH] [--address LIST]\n"
           "                [--rate RATE]\n"
           "                [--flow N] [--flow-decimals N] [--total-high N] [--total-low N]\n"
           "                [--total-decimals N] [--no-pacing] [--turnaround MS]\n"
           "                [--no-reply P] [--short-reply P] [--extra-bytes P] [--bad-crc P]\n"
           "                [--noise P] [--echo P] [--seed N] [--log FILE]\n"
           "Plays a DARQ flow totalizer on a fresh pseudo-terminal (or on --device) and prints\n"
           "the device path to open as the first line. P is a probability from 0 to 1.\n";
}

std::string helpText() {
    return "Usage: darq-sim [OPTION]...\n"
           "Plays a DARQ flow totalizer on a fresh pseudo-terminal (or on --device) and prints\n"
           "the device path to open as the first line. It answers read requests for its\n"
           "address, logs every request and reply with a timestamp and stops cleanly on\n"
           "SIGINT, SIGTERM or SIGHUP.\n"
           "\n"
           "Options:\n"
           "  --device PATH       serve this serial device at 8N2 instead of a pseudo-terminal\n"
           "  --baud RATE         line rate (default 9600)\n"
           "  --link PATH         also make a symbolic link PATH to the device, removed on exit\n"
           "  --address LIST      bus address to answer, 0 to 255 (default 1); a list such as\n"
           "                      1,5,9-14 answers as several instruments on one bus\n"
           "  --rate RATE         answer only when the tool's line runs at RATE, as an\n"
           "                      instrument set to that rate would (default: any rate)\n"
           "  --flow N            fixed instantaneous flow, as the instrument's whole number\n"
           "  --flow-decimals N   decimal places of the flow\n"
           "  --total-high N      fixed accumulated total, high part (0 to 65535)\n"
           "  --total-low N       fixed accumulated total, low part\n"
           "  --total-decimals N  decimal places of the total; without any of these five\n"
           "                      options the flow varies and the total accumulates\n"
           "  --no-pacing         send at once instead of at the speed of an 8N2 wire\n"
           "  --turnaround MS     pause between request and reply (default 5)\n"
           "  --seed N            seed for the faults and the varying values, to repeat a run\n"
           "  --log FILE          append the log to FILE instead of stderr\n"
           "  --help              this help, then exit\n"
           "  --version           the version, then exit\n"
           "\n"
           "Faults, each drawn for every answered request with a probability P from 0 to 1:\n"
           "  --no-reply P        leave the request unanswered\n"
           "  --short-reply P     cut the reply to 1 to 16 bytes\n"
           "  --extra-bytes P     append 1 to 8 bytes to the reply\n"
           "  --bad-crc P         corrupt the reply's check value\n"
           "  --noise P           send random bytes instead of the reply\n"
           "  --echo P            repeat the request in front of the reply, as some RS-485\n"
           "                      adapters do\n";
}

} // namespace darq::sim
