#include "read/read_options.h"

#include "protocol/number_list.h"
#include "protocol/read_request.h"
#include "serial/instrument_search.h"
#include "serial/port_names.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <array>

namespace darq {

namespace {

constexpr std::array<int, 4> kRates = {1200, 2400, 4800, 9600};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A whole number of milliseconds from `lowest` to `highest`; the error names what it is for.
std::optional<std::string> takeMilliseconds(const std::string& value, int lowest, int highest,
                                            const std::string& what, int& into) {
    const std::optional<int> number = parsePlainNumber(value);
    if (!number || *number < lowest || *number > highest) {
        return what + " must be a whole number of milliseconds from " + std::to_string(lowest) +
               " to " + std::to_string(highest) + ", not " + quoted(value);
    }
    into = *number;
    return std::nullopt;
}

std::optional<std::string> takeCount(const std::string& value, int& into) {
    const std::optional<int> count = parsePlainNumber(value);
    if (!count) {
        return "the count must be a whole number (0 reads until interrupted), not " +
               quoted(value);
    }
    into = *count;
    return std::nullopt;
}

std::optional<std::string> takeRates(const std::string& value, std::vector<int>& into) {
    NumberList rates = parseNumberList(value, kRates.front(), kRates.back());
    const bool allKnown = std::all_of(rates.values.begin(), rates.values.end(), [](int rate) {
        return std::find(kRates.begin(), kRates.end(), rate) != kRates.end();
    });
    if (!rates.error.empty() || !allKnown) {
        return "the rate must be 1200, 2400, 4800 or 9600 (a list for --scan), not " +
               quoted(value);
    }
    into = std::move(rates.values);
    return std::nullopt;
}

std::optional<std::string> takeAddresses(const std::string& value, std::vector<int>& into) {
    NumberList addresses = parseNumberList(value, kMinAddress, kMaxAddress);
    if (!addresses.error.empty()) {
        return "the address must be a number from 0 to 128 or a list such as 1,3,10-20, not " +
               quoted(value) + ": " + addresses.error;
    }
    into = std::move(addresses.values);
    return std::nullopt;
}

std::optional<std::string> takeFormat(const std::string& value, OutputFormat& into) {
    const std::array<std::pair<const char*, OutputFormat>, 3> formats = {
        {{"text", OutputFormat::Text}, {"csv", OutputFormat::Csv}, {"json", OutputFormat::Json}}};
    for (const auto& [name, format] : formats) {
        if (value == name) {
            into = format;
            return std::nullopt;
        }
    }
    return "the format must be text, csv or json, not " + quoted(value);
}

// QCommandLineParser's own words ("Unknown option 'speed'.") in the shape of ours.
std::string parserError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString& name = unknown.front();
        return "unknown option " + std::string(name.size() == 1 ? "-" : "--") + name.toStdString();
    }
    std::string text = parser.errorText().toStdString();
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    if (!text.empty()) {
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

} // namespace

ParsedReadOptions parseReadOptions(const std::vector<std::string>& arguments) {
    ParsedReadOptions result;
    ReadOptions& options = result.options;
    const auto fail = [&result](const std::string& reason) {
        result.kind = ParsedReadOptions::Kind::UsageError;
        result.error = reason;
        return result;
    };

    QCommandLineParser parser;
    const QCommandLineOption port({"p", "port"}, {}, "device");
    const QCommandLineOption address({"a", "address"}, {}, "list");
    const QCommandLineOption baud({"b", "baud"}, {}, "rate");
    const QCommandLineOption count({"c", "count"}, {}, "n");
    const QCommandLineOption interval({"i", "interval"}, {}, "ms");
    const QCommandLineOption timeout({"t", "timeout"}, {}, "ms");
    const QCommandLineOption format({"f", "format"}, {}, "format");
    const QCommandLineOption trace({"v", "trace"}, {});
    const QCommandLineOption scan("scan", {});
    const QCommandLineOption all("all", {});
    const QCommandLineOption listPorts("list-ports", {});
    const QCommandLineOption reconnect("reconnect", {});
    const QCommandLineOption noHeader("no-header", {});
    const QCommandLineOption rs485("rs485", {});
    const QCommandLineOption rs485Before("rs485-delay-before", {}, "ms");
    const QCommandLineOption rs485After("rs485-delay-after", {}, "ms");
    const QCommandLineOption help({"h", "help"}, {});
    const QCommandLineOption version({"V", "version"}, {});
    parser.addOptions({port, address, baud, count, interval, timeout, format, trace, scan, all,
                       listPorts, reconnect, noHeader, rs485, rs485Before, rs485After, help,
                       version});
    QStringList list{QStringLiteral("darq-read")};
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    if (!parser.parse(list)) {
        return fail(parserError(parser));
    }
    if (parser.isSet(help)) {
        result.kind = ParsedReadOptions::Kind::Help;
        return result;
    }
    if (parser.isSet(version)) {
        result.kind = ParsedReadOptions::Kind::Version;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail("unexpected argument " + quoted(parser.positionalArguments().front().toStdString()));
    }

    const auto value = [&parser](const QCommandLineOption& option) {
        return parser.value(option).toStdString();
    };
    // An option where the value should be means the value was left out: "--port --scan".
    for (const QCommandLineOption* option : {&port, &address, &baud, &count, &interval, &timeout,
                                             &format, &rs485Before, &rs485After}) {
        if (parser.isSet(*option) && value(*option).rfind("--", 0) == 0) {
            return fail("--" + option->names().back().toStdString() + " needs a value");
        }
    }
    options.port = value(port);
    options.trace = parser.isSet(trace);
    options.scan = parser.isSet(scan);
    options.findAll = parser.isSet(all);
    options.listPorts = parser.isSet(listPorts);
    options.reconnect = parser.isSet(reconnect);
    options.noHeader = parser.isSet(noHeader);
    if (parser.isSet(rs485)) {
        options.rs485 = Rs485Mode();
    }
    std::optional<std::string> refused;
    if (parser.isSet(address)) {
        refused = takeAddresses(value(address), options.addresses);
    }
    if (!refused && parser.isSet(baud)) {
        refused = takeRates(value(baud), options.baudRates);
    }
    if (!refused && parser.isSet(count)) {
        refused = takeCount(value(count), options.count);
    }
    if (!refused && parser.isSet(interval)) {
        refused = takeMilliseconds(value(interval), 0, kLongestIntervalMs, "the interval",
                                   options.intervalMs);
    }
    if (!refused && parser.isSet(timeout)) {
        int milliseconds = 0;
        refused = takeMilliseconds(value(timeout), 1, kLongestTimeoutMs, "the timeout",
                                   milliseconds);
        options.timeoutMs = milliseconds;
    }
    if (!refused && parser.isSet(format)) {
        refused = takeFormat(value(format), options.format);
    }
    if (options.rs485) {
        if (!refused && parser.isSet(rs485Before)) {
            refused =
                takeMilliseconds(value(rs485Before), 0, kLongestRs485DelayMs,
                                 "the delay before sending", options.rs485->delayBeforeSendMs);
        }
        if (!refused && parser.isSet(rs485After)) {
            refused = takeMilliseconds(value(rs485After), 0, kLongestRs485DelayMs,
                                       "the delay after sending", options.rs485->delayAfterSendMs);
        }
    } else if (!refused && (parser.isSet(rs485Before) || parser.isSet(rs485After))) {
        refused = "--rs485-delay-before and --rs485-delay-after go with --rs485";
    }
    if (refused) {
        return fail(*refused);
    }

    const bool readingOptions = parser.isSet(port) || parser.isSet(address) || parser.isSet(baud) ||
                                parser.isSet(count) || parser.isSet(interval) ||
                                parser.isSet(timeout) || options.trace || options.scan ||
                                options.findAll || options.reconnect || options.rs485;
    if (options.listPorts && readingOptions) {
        return fail("--list-ports takes no reading or search options, only --format and "
                    "--no-header");
    }
    if (options.noHeader && options.format != OutputFormat::Csv) {
        return fail("--no-header goes with --format csv");
    }
    if (options.port.empty() && !options.listPorts) {
        return fail("--port is required");
    }
    const QString device = QString::fromStdString(options.port);
    if (isNetworkDevice(device) && !networkAddress(device)) {
        return fail("a device server is given as tcp://HOST:PORT with a port from 1 to 65535, not " +
                    quoted(options.port));
    }
    if (options.findAll && !options.scan) {
        return fail("--all goes with --scan");
    }
    if (options.scan && (parser.isSet(count) || parser.isSet(interval) || options.reconnect)) {
        return fail("--count, --interval and --reconnect do not go with --scan");
    }
    if (!options.scan && options.baudRates.size() > 1) {
        return fail("several rates go with --scan only");
    }
    if (options.scan && !parser.isSet(address)) {
        options.addresses.clear(); // the whole bus
    }
    if (options.scan && !parser.isSet(baud)) {
        options.baudRates = SearchPlan().baudRates;
    }
    return result;
}

std::string usageText() {
    return "Usage: darq-read -p DEVICE [-a LIST] [-b RATE] [-c N] [-i MS] [-t MS] [-f FORMAT] "
           "[--no-header] [-v] [--reconnect] [--rs485 ...]\n"
           "  or:  darq-read -p DEVICE --scan [--all] [-a LIST] [-b LIST] [-t MS] [-f FORMAT] "
           "[--no-header] [-v] [--rs485 ...]\n"
           "  or:  darq-read --list-ports [-f FORMAT] [--no-header]\n";
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
           "                        and second USB adapter, else /dev/ttyS0, /dev/ttyS1);\n"
           "                        tcp://HOST:PORT reads through a serial device server\n"
           "  -a, --address LIST    instrument bus address 0 to 128 (default 1); a list such as\n"
           "                        1,3,10-20 polls each in turn; with --scan, where to search\n"
           "                        (default 0-128, address 1 first)\n"
           "  -b, --baud RATE       line rate 1200, 2400, 4800 or 9600, always 8N2 (default\n"
           "                        9600); with --scan a list (default 9600,4800,2400,1200)\n"
           "  -c, --count N         cycles to take, 0 = until interrupted (default 1)\n"
           "  -i, --interval MS     between the starts of successive cycles, up to a day\n"
           "                        (default 2000)\n"
           "  -t, --timeout MS      longest wait for the reply's last byte after the request\n"
           "                        left, 1 to 60000 (default: the window's settle time at the\n"
           "                        rate; with --scan, the wire time of request and reply at\n"
           "                        each rate plus 50)\n"
           "  -f, --format FORMAT   text, csv or json (default text); text lines start with\n"
           "                        the local time the request went out\n"
           "      --no-header       csv without its header line; without this option the\n"
           "                        header is left out only when appending to a non-empty\n"
           "                        file (>> log.csv)\n"
           "  -v, --trace           every frame sent and received, in hex, on stderr\n"
           "      --reconnect       keep reading when the port is lost or cannot be opened:\n"
           "                        each cycle gives port-lost records while the device is\n"
           "                        tried again (0.5 s, doubling up to 10 s); ends only on\n"
           "                        a signal (status 0) or when the cycles are done\n"
           "      --rs485           switch the port into the kernel's RS-485 mode, RTS on while\n"
           "                        sending, for a UART that drives its transmitter by RTS\n"
           "                        (USB adapters switch by themselves and need no option)\n"
           "      --rs485-delay-before MS\n"
           "                        with --rs485, RTS on this long before sending, 0 to 100\n"
           "                        (default 0)\n"
           "      --rs485-delay-after MS\n"
           "                        with --rs485, RTS off this long after sending, 0 to 100\n"
           "                        (default 0)\n"
           "      --scan            search every rate and address given for an instrument\n"
           "      --all             with --scan, go on after the first instrument found\n"
           "      --list-ports      list the machine's serial devices (by-id name, driver, USB\n"
           "                        vendor and product, serial number) and what COM1 and\n"
           "                        COM2 mean now, or why no adapter is found, then exit\n"
           "                        (needs no --port)\n"
           "  -h, --help            this help, then exit\n"
           "  -V, --version         the version, then exit\n"
           "\n"
           "\"--\" ends the options.\n"
           "\n"
           "Exit status: 0 every reading decoded (with --scan: an instrument found), 1 a reading\n"
           "was not this instrument's intact reply (no data, ignored, bad check value, wrong\n"
           "header; with --scan: none found; with --list-ports: no serial device), 2 the port\n"
           "cannot be used, 64 usage error, 74 the output could not be written (also when its\n"
           "reader went away).\n";
}

} // namespace darq
