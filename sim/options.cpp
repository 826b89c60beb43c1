#include "sim/options.h"

#include "protocol/number_list.h"
#include "sim/line_settings.h"

#include <QCommandLineParser>

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <type_traits>

namespace darq::sim {

namespace {

// A number as plain decimal digits, with a minus sign where the type has one and a point for a
// probability: no blank, plus sign, hexadecimal or exponent, which strtol and strtod would take,
// and the same in every locale.
template <typename Number>
std::optional<Number> plainNumber(const std::string& text, Number low, Number high) {
    Number value{};
    const char* const end = text.data() + text.size();
    std::from_chars_result result{};
    if constexpr (std::is_floating_point_v<Number>) {
        result = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    } else {
        result = std::from_chars(text.data(), end, value);
    }
    if (result.ec != std::errc() || result.ptr != end || !(value >= low && value <= high)) {
        return std::nullopt;
    }
    return value;
}

constexpr long long kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr long long kInt32Max = std::numeric_limits<std::int32_t>::max();

// An option of the command line, what its value must be, and where the value goes.
struct Rule {
    QCommandLineOption option;
    std::string expected;
    std::function<bool(SimOptions&, const std::string&)> apply;
};

Reading& fixedReading(SimOptions& options) {
    if (!options.fixedReading) {
        options.fixedReading.emplace();
    }
    return *options.fixedReading;
}

Rule wholeRule(const QString& name, const QString& description, long long low, long long high,
               std::function<void(SimOptions&, long long)> store) {
    return {{name, description, QStringLiteral("N")},
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
            [=](SimOptions& options, const std::string& text) {
                const auto value = plainNumber(text, low, high);
                if (value) {
                    store(options, *value);
                }
                return value.has_value();
            }};
}

Rule probabilityRule(const QString& name, const QString& description,
                     double FaultProbabilities::*field) {
    return {{name, description, QStringLiteral("P")},
            "a probability from 0 to 1 in decimals, such as 0.25",
            [=](SimOptions& options, const std::string& text) {
                const auto value = plainNumber(text, 0.0, 1.0);
                if (value) {
                    options.faults.*field = *value;
                }
                return value.has_value();
            }};
}

Rule pathRule(const QString& name, const QString& valueName, const QString& description,
              std::optional<std::string> SimOptions::*field) {
    return {{name, description, valueName},
            "a path",
            [=](SimOptions& options, const std::string& text) {
                options.*field = text;
                return !text.empty();
            }};
}

Rule rateRule(const QString& name, const QString& description,
              std::function<void(SimOptions&, int)> store) {
    return {{name, description, QStringLiteral("RATE")},
            "one of the serial rates, such as 1200, 2400, 4800 or 9600",
            [=](SimOptions& options, const std::string& text) {
                const auto value = plainNumber(text, 1LL, kInt32Max);
                if (!value || !speedOf(static_cast<int>(*value))) {
                    return false;
                }
                store(options, static_cast<int>(*value));
                return true;
            }};
}

std::vector<Rule> rules() {
    return {
        pathRule("device", "PATH", "serve this serial device at 8N2 instead of a pseudo-terminal",
                 &SimOptions::devicePath),
        rateRule("baud", "line rate (default 9600)",
                 [](SimOptions& options, int rate) { options.baudRate = rate; }),
        pathRule("link", "PATH", "also make a symbolic link PATH to the device, removed on exit",
                 &SimOptions::linkPath),
        {{"address",
          "bus address to answer, 0 to 255 (default 1); a list such as 1,5,9-14 answers as "
          "several instruments on one bus",
          "LIST"},
         "a bus address from 0 to 255 or a list such as 1,5,9-14",
         [](SimOptions& options, const std::string& text) {
             NumberList addresses = parseNumberList(text, 0, 255);
             options.addresses = std::move(addresses.values);
             return addresses.error.empty();
         }},
        rateRule("rate",
                 "answer only when the tool's line runs at RATE, as an instrument set to that "
                 "rate would (default: any rate)",
                 [](SimOptions& options, int rate) { options.answerRate = rate; }),
        wholeRule("flow", "fixed instantaneous flow, as the instrument's whole number", kInt32Min,
                  kInt32Max,
                  [](SimOptions& options, long long value) {
                      fixedReading(options).flow = static_cast<std::int32_t>(value);
                  }),
        wholeRule("flow-decimals", "decimal places of the flow", 0, 255,
                  [](SimOptions& options, long long value) {
                      fixedReading(options).flowDecimals = static_cast<std::uint8_t>(value);
                  }),
        wholeRule("total-high", "fixed accumulated total, high part", 0, 65535,
                  [](SimOptions& options, long long value) {
                      fixedReading(options).totalHigh = static_cast<std::uint16_t>(value);
                  }),
        wholeRule("total-low", "fixed accumulated total, low part", kInt32Min, kInt32Max,
                  [](SimOptions& options, long long value) {
                      fixedReading(options).totalLow = static_cast<std::int32_t>(value);
                  }),
        wholeRule("total-decimals",
                  "decimal places of the total; without any of these five options the flow "
                  "varies and the total accumulates",
                  0, 255,
                  [](SimOptions& options, long long value) {
                      fixedReading(options).totalDecimals = static_cast<std::uint8_t>(value);
                  }),
        {{"no-pacing", "send at once instead of at the speed of an 8N2 wire"},
         "no value",
         [](SimOptions& options, const std::string&) {
             options.pacing = false;
             return true;
         }},
        wholeRule("turnaround", "pause in milliseconds between request and reply (default 5)", 0,
                  10000,
                  [](SimOptions& options, long long value) {
                      options.turnaroundMs = static_cast<int>(value);
                  }),
        {{"seed", "seed for the faults and the varying values, to repeat a run", "N"},
         "a whole number from 0 to 18446744073709551615",
         [](SimOptions& options, const std::string& text) {
             options.seed =
                 plainNumber(text, std::uint64_t{0}, std::numeric_limits<std::uint64_t>::max());
             return options.seed.has_value();
         }},
        pathRule("log", "FILE", "append the log to FILE instead of stderr", &SimOptions::logPath),
        probabilityRule("no-reply", "leave the request unanswered", &FaultProbabilities::noReply),
        probabilityRule("short-reply", "cut the reply to 1 to 16 bytes",
                        &FaultProbabilities::shortReply),
        probabilityRule("extra-bytes", "append 1 to 8 bytes to the reply",
                        &FaultProbabilities::extraBytes),
        probabilityRule("bad-crc", "corrupt the reply's check value", &FaultProbabilities::badCrc),
        probabilityRule("noise", "send random bytes instead of the reply",
                        &FaultProbabilities::noise),
        probabilityRule("echo",
                        "repeat the request in front of the reply, as some RS-485 adapters do",
                        &FaultProbabilities::echo),
    };
}

const char* const kDescription =
    "Plays a DARQ flow totalizer on a fresh pseudo-terminal (or on --device) and prints\n"
    "the device path to open as the first line. It answers read requests for its\n"
    "address, logs every request and reply with a timestamp and stops cleanly on\n"
    "SIGINT, SIGTERM or SIGHUP. Each fault, --no-reply to --echo, is drawn for every\n"
    "answered request with its probability P from 0 to 1.";

OptionsParse refused(const std::string& reason) {
    OptionsParse parse;
    parse.error = reason;
    return parse;
}

} // namespace

OptionsParse parseOptions(const std::vector<std::string>& arguments) {
    const QCommandLineOption help({"h", "help"}, "this help, then exit");
    const QCommandLineOption version({"V", "version"}, "the version, then exit");
    const std::vector<Rule> table = rules();
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addOptions({help, version});
    for (const Rule& rule : table) {
        parser.addOption(rule.option);
    }
    QStringList words{"darq-sim"};
    for (const std::string& argument : arguments) {
        words << QString::fromStdString(argument);
    }
    if (!parser.parse(words)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty()) {
            return refused(parser.errorText().toStdString());
        }
        return refused("unknown option " + std::string(unknown[0].size() > 1 ? "--" : "-") +
                       unknown[0].toStdString());
    }
    OptionsParse parse;
    if (parser.isSet(help)) {
        // Qt names the program only when it has an application object, which the simulator does
        // without.
        parse.help =
            "Usage: darq-sim [OPTION]...\n" + parser.helpText().section('\n', 1).toStdString();
        return parse;
    }
    parse.versionRequested = parser.isSet(version);
    if (parse.versionRequested) {
        return parse;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refused("unexpected argument " + parser.positionalArguments()[0].toStdString());
    }
    SimOptions options;
    for (const Rule& rule : table) {
        const std::string value = parser.value(rule.option).toStdString();
        if (parser.isSet(rule.option) && !rule.apply(options, value)) {
            return refused("option --" + rule.option.names()[0].toStdString() + " wants " +
                           rule.expected + ", not \"" + value + "\"");
        }
    }
    parse.options = options;
    return parse;
}

} // namespace darq::sim
