#include "read/reading_output.h"

#include "protocol/reply_explanation.h"
#include "serial/reply_words.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

namespace darq {

namespace {

using Kind = ReadOutcome::Kind;

const char* outcomeName(Kind kind) {
    switch (kind) {
    case Kind::Decoded:
        return "decoded";
    case Kind::NoData:
        return "no-data";
    case Kind::Ignored:
        return "ignored";
    }
    return "";
}

bool isDecoded(const ReadOutcome& outcome) {
    return outcome.kind == Kind::Decoded;
}

std::string latencyText(const std::optional<double>& latencyMs) {
    return latencyMs ? oneDecimal(*latencyMs) : std::string();
}

// The readings are digits, "-" and "."; quoting is kept general so that no text can break a line.
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

ReplyExplanation explanationOf(const ReadingRecord& record) {
    return explainReply(record.request, record.outcome, record.endedWhileArriving);
}

std::string textLines(const ReadingRecord& record) {
    const ReadOutcome& outcome = record.outcome;
    const ReplyExplanation explanation = explanationOf(record);
    std::string lines;
    if (record.namesInstrument) {
        lines = "address " + std::to_string(record.address) + "  " +
                std::to_string(record.baudRate) + " Bd  ";
    }
    switch (outcome.kind) {
    case Kind::Decoded:
        lines += "flow " + outcome.flowText + "  total " + outcome.totalText;
        if (!outcome.checkValueOk) {
            lines += "  bad CRC";
        }
        break;
    case Kind::NoData:
        lines += "no data";
        break;
    case Kind::Ignored:
        lines += explanation.exceptionCode
                     ? "exception " + exceptionText(*explanation.exceptionCode).toStdString()
                     : "ignored: " + std::to_string(outcome.reply().size()) + " bytes";
        break;
    }
    if (outcome.echoRemoved) {
        lines += "  echo removed";
    }
    lines += "\n";
    if (!explanation.isClean()) {
        lines += "  " + explanationText(explanation, WordsFor::CommandLine).toStdString() + "\n";
    }
    return lines;
}

std::string csvLine(const ReadingRecord& record) {
    const ReadOutcome& outcome = record.outcome;
    std::string line = isoUtcTime(record.time) + "," + std::to_string(record.address) + "," +
                       outcomeName(outcome.kind) + ",";
    if (isDecoded(outcome)) {
        line += outcome.flowText + "," + outcome.totalText + ",";
    } else {
        line += ",,";
    }
    line += std::to_string(outcome.reply().size()) + ",";
    if (isDecoded(outcome)) {
        line += outcome.checkValueOk ? "ok" : "bad";
    }
    const ReplyExplanation explanation = explanationOf(record);
    line += "," + latencyText(record.latencyMs) + "," + std::to_string(record.baudRate) + "," +
            (outcome.echoRemoved ? "true" : "false") + ",";
    if (explanation.exceptionCode) {
        line += std::to_string(*explanation.exceptionCode);
    }
    line += ",";
    if (explanation.headerOk) {
        line += *explanation.headerOk ? "true" : "false";
    }
    return line + "\n";
}

std::string jsonLine(const ReadingRecord& record) {
    const ReadOutcome& outcome = record.outcome;
    const bool decoded = isDecoded(outcome);
    std::string line = "{\"time\":" + jsonString(isoUtcTime(record.time)) +
                       ",\"address\":" + std::to_string(record.address) +
                       ",\"baud\":" + std::to_string(record.baudRate) +
                       ",\"outcome\":" + jsonString(outcomeName(outcome.kind));
    line += ",\"flow\":" + (decoded ? jsonString(outcome.flowText) : "null");
    line += ",\"total\":" + (decoded ? jsonString(outcome.totalText) : "null");
    line += ",\"bytes\":" + std::to_string(outcome.reply().size());
    line += ",\"crc_ok\":" + std::string(!decoded               ? "null"
                                         : outcome.checkValueOk ? "true"
                                                                : "false");
    line += ",\"latency_ms\":" + (record.latencyMs ? latencyText(record.latencyMs) : "null");
    line += std::string(",\"echo\":") + (outcome.echoRemoved ? "true" : "false");
    const ReplyExplanation explanation = explanationOf(record);
    line +=
        ",\"exception\":" + (explanation.exceptionCode ? std::to_string(*explanation.exceptionCode)
                                                       : std::string("null"));
    line += std::string(",\"header_ok\":") + (!explanation.headerOk   ? "null"
                                              : *explanation.headerOk ? "true"
                                                                      : "false");
    return line + "}\n";
}

} // namespace

std::string oneDecimal(double value) {
    // std::to_chars ignores the locale, where printf would write "34,0" under a German one.
    char text[64];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return error == std::errc() ? std::string(text, end) : std::string();
}

std::string isoUtcTime(std::chrono::system_clock::time_point time) {
    const auto sinceEpoch = time.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

std::string traceLine(const char* direction, const Bytes& frame) {
    return isoUtcTime(std::chrono::system_clock::now()) + ' ' + direction + ' ' +
           (frame.empty() ? std::string("(nothing)") : hexText(frame)) + '\n';
}

bool reportLostOutput() {
    const bool outLost = std::cout.fail();
    const bool errLost = std::cerr.fail();
    if (!outLost && !errLost) {
        return false;
    }
    if (!errLost) {
        std::cerr << "darq-read: cannot write the readings to standard output: "
                  << std::strerror(errno) << std::endl;
    }
    return true;
}

std::string csvHeader() {
    return "time,address,outcome,flow,total,bytes,crc,latency_ms,baud,echo,exception,header_ok\n";
}

std::string formatReading(OutputFormat format, const ReadingRecord& record) {
    switch (format) {
    case OutputFormat::Text:
        return textLines(record);
    case OutputFormat::Csv:
        return csvLine(record);
    case OutputFormat::Json:
        return jsonLine(record);
    }
    return {};
}

} // namespace darq
