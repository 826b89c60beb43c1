#include "read/read_options.h"

#include "gateway/config_file.h"
#include "protocol/number_list.h"
#include "protocol/read_request.h"
#include "serial/instrument_search.h"
#include "serial/port_names.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <array>
#include <map>

namespace darq {

namespace {

constexpr std::array<int, 4> kRates = {1200, 2400, 4800, 9600};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::optional<std::string> nonEmpty(std::string reason) {
    return reason.empty() ? std::nullopt : std::optional<std::string>(std::move(reason));
}

// An option's value and where it was given.
struct GivenValue {
    std::string value;
    std::string where; // "FILE:LINE" for a config file's line, empty for the command line
};

std::string longName(const QCommandLineOption& option) {
    return option.names().back().toStdString();
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
        return "the count must be a whole number (0 reads until interrupted), not " + quoted(value);
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
    const QCommandLineOption mqtt("mqtt", {}, "url");
    const QCommandLineOption mqttTopic("mqtt-topic", {}, "prefix");
    const QCommandLineOption mqttCa("mqtt-ca", {}, "file");
    const QCommandLineOption mqttPasswordFile("mqtt-password-file", {}, "file");
    const QCommandLineOption spool("spool", {}, "file");
    const QCommandLineOption spoolMax("spool-max", {}, "n");
    const QCommandLineOption quiet("quiet", {});
    const QCommandLineOption config("config", {}, "file");
    const QCommandLineOption help({"h", "help"}, {});
    const QCommandLineOption version({"V", "version"}, {});
    const std::vector<const QCommandLineOption*> known = {
        &port,        &address,    &baud,   &count,     &interval,  &timeout,          &format,
        &trace,       &scan,       &all,    &listPorts, &reconnect, &noHeader,         &rs485,
        &rs485Before, &rs485After, &mqtt,   &mqttTopic, &mqttCa,    &mqttPasswordFile, &spool,
        &spoolMax,    &quiet,      &config, &help,      &version};
    for (const QCommandLineOption* option : known) {
        parser.addOption(*option);
    }
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
        return fail("unexpected argument " +
                    quoted(parser.positionalArguments().front().toStdString()));
    }

    // The options of the command line, then those of the config file that the command line does
    // not give: the command line wins.
    std::map<std::string, GivenValue> given;
    for (const QCommandLineOption* option : known) {
        if (parser.isSet(*option)) {
            given[longName(*option)] = {parser.value(*option).toStdString(), {}};
        }
    }
    if (parser.isSet(config)) {
        const ConfigFile file = readConfigFile(parser.value(config).toStdString());
        if (!file.error.empty()) {
            return fail(file.error);
        }
        for (const ConfigEntry& entry : file.entries) {
            const auto option =
                std::find_if(known.begin(), known.end(), [&entry](const QCommandLineOption* o) {
                    return longName(*o) == entry.name;
                });
            if (option == known.end() || *option == &config || *option == &help ||
                *option == &version) {
                return fail(entry.where + ": " + quoted(entry.name) +
                            " is not an option darq-read takes in a config file");
            }
            const bool takesValue = !(*option)->valueName().isEmpty();
            if (takesValue && (!entry.value || entry.value->empty())) {
                return fail(entry.where + ": " + entry.name + " needs a value: \"" + entry.name +
                            " = ...\"");
            }
            if (!takesValue && entry.value) {
                return fail(entry.where + ": " + entry.name + " takes no value");
            }
            given.emplace(entry.name, GivenValue{entry.value.value_or(""), entry.where});
        }
    }

    const auto isSet = [&given](const QCommandLineOption& option) {
        return given.count(longName(option)) > 0;
    };
    const auto value = [&given](const QCommandLineOption& option) {
        const auto found = given.find(longName(option));
        return found == given.end() ? std::string() : found->second.value;
    };
    const auto optionalValue = [&](const QCommandLineOption& option) {
        return isSet(option) ? std::optional<std::string>(value(option)) : std::nullopt;
    };
    // A value from the config file that is refused is told with the file and line it stands on.
    const auto from = [&given](const QCommandLineOption& option,
                               std::optional<std::string> refusal) {
        const auto found = given.find(longName(option));
        if (refusal && found != given.end() && !found->second.where.empty()) {
            *refusal = found->second.where + ": " + *refusal;
        }
        return refusal;
    };
    // An option where the value should be means the value was left out: "--port --scan".
    for (const QCommandLineOption* option : known) {
        if (!option->valueName().isEmpty() && isSet(*option) &&
            value(*option).rfind("--", 0) == 0) {
            return fail("--" + longName(*option) + " needs a value");
        }
    }
    options.port = value(port);
    options.trace = isSet(trace);
    options.scan = isSet(scan);
    options.findAll = isSet(all);
    options.listPorts = isSet(listPorts);
    options.reconnect = isSet(reconnect);
    options.noHeader = isSet(noHeader);
    options.quiet = isSet(quiet);
    if (isSet(rs485)) {
        options.rs485 = Rs485Mode();
    }
    GatewayOptions& gateway = options.gateway;
    gateway.mqttUrl = value(mqtt);
    gateway.topicPrefix = optionalValue(mqttTopic);
    gateway.caFile = optionalValue(mqttCa);
    gateway.passwordFile = optionalValue(mqttPasswordFile);
    gateway.spoolPath = optionalValue(spool);
    gateway.spoolMax = optionalValue(spoolMax);

    std::optional<std::string> refused;
    if (isSet(address)) {
        refused = from(address, takeAddresses(value(address), options.addresses));
    }
    if (!refused && isSet(baud)) {
        refused = from(baud, takeRates(value(baud), options.baudRates));
    }
    if (!refused && isSet(count)) {
        refused = from(count, takeCount(value(count), options.count));
    }
    if (!refused && isSet(interval)) {
        refused = from(interval, takeMilliseconds(value(interval), 0, kLongestIntervalMs,
                                                  "the interval", options.intervalMs));
    }
    if (!refused && isSet(timeout)) {
        int milliseconds = 0;
        refused = from(timeout, takeMilliseconds(value(timeout), 1, kLongestTimeoutMs,
                                                 "the timeout", milliseconds));
        options.timeoutMs = milliseconds;
    }
    if (!refused && isSet(format)) {
        refused = from(format, takeFormat(value(format), options.format));
    }
    if (options.rs485) {
        if (!refused && isSet(rs485Before)) {
            refused =
                from(rs485Before, takeMilliseconds(value(rs485Before), 0, kLongestRs485DelayMs,
                                                   "the delay before sending",
                                                   options.rs485->delayBeforeSendMs));
        }
        if (!refused && isSet(rs485After)) {
            refused = from(rs485After, takeMilliseconds(value(rs485After), 0, kLongestRs485DelayMs,
                                                        "the delay after sending",
                                                        options.rs485->delayAfterSendMs));
        }
    } else if (!refused && (isSet(rs485Before) || isSet(rs485After))) {
        refused = "--rs485-delay-before and --rs485-delay-after go with --rs485";
    }
    if (!refused && isSet(mqtt)) {
        refused = from(mqtt, nonEmpty(parseBrokerUrl(gateway.mqttUrl).error));
    }
    if (!refused && gateway.topicPrefix) {
        refused = from(mqttTopic, nonEmpty(checkTopicPrefix(*gateway.topicPrefix)));
    }
    if (!refused && gateway.spoolMax) {
        refused = from(spoolMax, nonEmpty(checkSpoolMax(*gateway.spoolMax)));
    }
    if (refused) {
        return fail(*refused);
    }

    const bool readingOptions = isSet(port) || isSet(address) || isSet(baud) || isSet(count) ||
                                isSet(interval) || isSet(timeout) || options.trace ||
                                options.scan || options.findAll || options.reconnect ||
                                options.rs485;
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
        return fail(
            "a device server is given as tcp://HOST:PORT with a port from 1 to 65535, not " +
            quoted(options.port));
    }
    if (options.findAll && !options.scan) {
        return fail("--all goes with --scan");
    }
    if (options.scan && (isSet(count) || isSet(interval) || options.reconnect)) {
        return fail("--count, --interval and --reconnect do not go with --scan");
    }
    const bool gatewayOptions = isSet(mqtt) || isSet(mqttTopic) || isSet(mqttCa) ||
                                isSet(mqttPasswordFile) || isSet(spool) || isSet(spoolMax) ||
                                options.quiet;
    if ((options.scan || options.listPorts) && gatewayOptions) {
        return fail("--mqtt, its options and --quiet go with reading, not with --scan or "
                    "--list-ports");
    }
    if (gatewayOptions && !isSet(mqtt)) {
        return fail("--mqtt-topic, --mqtt-ca, --mqtt-password-file, --spool, --spool-max and "
                    "--quiet go with --mqtt");
    }
    if (!options.scan && options.baudRates.size() > 1) {
        return fail("several rates go with --scan only");
    }
    if (options.scan && !isSet(address)) {
        options.addresses.clear(); // the whole bus
    }
    if (options.scan && !isSet(baud)) {
        options.baudRates = SearchPlan().baudRates;
    }
    return result;
}

std::string usageText() {
    return "Usage: darq-read -p DEVICE [-a LIST] [-b RATE] [-c N] [-i MS] [-t MS] [-f FORMAT] "
           "[--no-header] [-v] [--reconnect] [--rs485 ...]\n"
           "           [--mqtt URL [--mqtt-topic PREFIX] [--mqtt-ca FILE] "
           "[--mqtt-password-file FILE]\n"
           "            [--spool FILE] [--spool-max N] [--quiet]] [--config FILE]\n"
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
           "      --mqtt URL        publish every record to an MQTT broker as well (QoS 1):\n"
           "                        mqtt://[USER@]HOST[:PORT] (1883) or\n"
           "                        mqtts://[USER@]HOST[:PORT] (8883, TLS); the password\n"
           "                        comes from DARQ_MQTT_PASSWORD or --mqtt-password-file\n"
           "      --mqtt-topic PREFIX\n"
           "                        records to PREFIX/<address>/reading, online/offline to\n"
           "                        PREFIX/status (default darq/<host name>/<device name>)\n"
           "      --mqtt-ca FILE    with mqtts://, the CA that signed the broker's certificate\n"
           "      --mqtt-password-file FILE\n"
           "                        the broker password, the file's first line\n"
           "      --spool FILE      records wait here until the broker has them, across\n"
           "                        restarts (default $STATE_DIRECTORY/spool under systemd;\n"
           "                        without one a stop loses what the broker has not taken)\n"
           "      --spool-max N     at most N records wait, the oldest dropped beyond that\n"
           "                        (default 1000000)\n"
           "      --quiet           with --mqtt, no readings on standard output\n"
           "      --config FILE     long options from FILE, one a line: name = value, or the\n"
           "                        name alone; # comments; the command line wins\n"
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
           "reader went away) or the spool cannot be opened.\n";
}

} // namespace darq
