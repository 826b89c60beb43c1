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

// An option of the command line, what its value must be, and where the value goes.
struct Rule {
    QCommandLineOption option;
    std::string expected;
    std::function<bool(SimOptions&, const std::string&)> apply;
};

// An option whose value is a number from `low` to `high`, which `store` may still refuse.
template <typename Number>
Rule numberRule(const QString& name, const QString& valueName, const QString& description,
                const std::string& expected, Number low, Number high,
                std::function<bool(SimOptions&, Number)> store) {
    return {{name, description, valueName},
            expected,
            [=](SimOptions& options, const std::string& text) {
                const std::optional<Number> value = plainNumber(text, low, high);
                return value && store(options, *value);
            }};
}

template <typename Number>
Rule wholeRule(const QString& name, const QString& description, Number low, Number high,
               std::function<void(SimOptions&, Number)> store) {
    return numberRule<Number>(name, "N", description,
                              "a whole number from " + std::to_string(low) + " to " +
                                  std::to_string(high),
                              low, high, [=](SimOptions& options, Number value) {
                                  store(options, value);
                                  return true;
                              });
}

// A fixed value of the reading, within what its field holds.
template <typename Field>
Rule readingRule(const QString& name, const QString& description, Field Reading::*field) {
    return wholeRule<long long>(name, description, std::numeric_limits<Field>::min(),
                                std::numeric_limits<Field>::max(),
                                [=](SimOptions& options, long long value) {
                                    if (!options.fixedReading) {
                                        options.fixedReading.emplace();
                                    }
                                    options.fixedReading.value().*field = static_cast<Field>(value);
                                });
}

Rule probabilityRule(const QString& name, const QString& description,
                     double FaultProbabilities::*field) {
    return numberRule<double>(name, "P", description,
                              "a probability from 0 to 1 in decimals, such as 0.25", 0.0, 1.0,
                              [=](SimOptions& options, double value) {
                                  options.faults.*field = value;
                                  return true;
                              });
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
    return numberRule<int>(name, "RATE", description,
                           "one of the serial rates, such as 1200, 2400, 4800 or 9600", 1,
                           std::numeric_limits<int>::max(), [=](SimOptions& options, int rate) {
                               store(options, rate);
                               return speedOf(rate).has_value();
                           });
}

std::vector<Rule> rules() {
    return {
        pathRule("device", "PATH", "serve this serial device at 8N2 instead of a pseudo-terminal",
                 &SimOptions::devicePath),
        rateRule("baud", "line rate (default 9600)",
                 [](SimOptions& options, int rate) { options.baudRate = rate; }),
        {{"listen",
          "serve on this TCP port instead, RTU over TCP, one client at a time (HOST defaults to "
          "127.0.0.1; port 0 takes a free one); the line's rate comes from --baud",
          "[HOST]:PORT"},
         "[HOST]:PORT, such as :5020, 127.0.0.1:5020 or [::1]:5020",
         [](SimOptions& options, const std::string& text) {
             const std::size_t colon = text.rfind(':');
             std::string host = text.substr(0, std::min(colon, text.size()));
             if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
                 host = host.substr(1, host.size() - 2);
             }
             const auto port = plainNumber(text.substr(colon + 1), 0, 65535);
             options.listen = ListenAddress{host.empty() ? "127.0.0.1" : host, port.value_or(0)};
             return colon != std::string::npos && port.has_value();
         }},
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
        readingRule("flow", "fixed instantaneous flow, as the instrument's whole number",
                    &Reading::flow),
        readingRule("flow-decimals", "decimal places of the flow", &Reading::flowDecimals),
        readingRule("total-high", "fixed accumulated total, high part", &Reading::totalHigh),
        readingRule("total-low", "fixed accumulated total, low part", &Reading::totalLow),
        readingRule("total-decimals",
                    "decimal places of the total; without any of these five options the flow "
                    "varies and the total accumulates",
                    &Reading::totalDecimals),
        {{"no-pacing", "send at once instead of at the speed of an 8N2 wire"},
         "no value",
         [](SimOptions& options, const std::string&) {
             options.pacing = false;
             return true;
         }},
        wholeRule<int>("turnaround", "pause in milliseconds between request and reply (default 5)",
                       0, 10000,
                       [](SimOptions& options, int value) { options.turnaroundMs = value; }),
        wholeRule<std::uint64_t>(
            "seed", "seed for the faults and the varying values, to repeat a run", 0,
            std::numeric_limits<std::uint64_t>::max(),
            [](SimOptions& options, std::uint64_t seed) { options.seed = seed; }),
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
    "Plays a DARQ flow totalizer on a fresh pseudo-terminal (or on --device, or on a TCP\n"
    "port with --listen) and prints the device path (or tcp://HOST:PORT) to open as the\n"
    "first line. It answers read requests for its address, logs every request and reply\n"
    "with a timestamp and stops cleanly on SIGINT, SIGTERM or SIGHUP. Each fault,\n"
    "--no-reply to --echo, is drawn for every answered request with its probability P\n"
    "from 0 to 1.";

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
    if (options.listen && (options.devicePath || options.linkPath)) {
        return refused("option --listen serves no device: it cannot go with --device or --link");
    }
    parse.options = options;
    return parse;
}

} // namespace darq::sim
