#include "protocol/reading_record.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace darq {

namespace {

using Finding = ReadOutcome::Finding;

bool hasValues(const ReadingRecord& record) {
    return record.status == ReadingRecord::Status::Completed &&
           record.outcome.kind == ReadOutcome::Kind::Decoded;
}

std::string optionalNumber(const std::optional<int>& number) {
    return number ? std::to_string(*number) : std::string();
}

std::string optionalFlag(const std::optional<bool>& flag) {
    return flag ? (*flag ? "true" : "false") : std::string();
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

// `time` broken down by `convert` (gmtime_r or localtime_r) into `into`; returns its milliseconds.
int calendarTime(std::chrono::system_clock::time_point time,
                 std::tm* (*convert)(const std::time_t*, std::tm*), std::tm& into) {
    const auto sinceEpoch = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    convert(&whole, &into);
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count());
}

} // namespace

std::string outcomeName(const ReadingRecord& record) {
    switch (record.status) {
    case ReadingRecord::Status::NotSent:
        return "not-sent";
    case ReadingRecord::Status::Interrupted:
        return "interrupted";
    case ReadingRecord::Status::PortLost:
        return "port-lost";
    case ReadingRecord::Status::Completed:
        break;
    }
    switch (record.outcome.finding) {
    case Finding::Clean:
        return "decoded";
    case Finding::BadCheckValue:
        return "bad-check";
    case Finding::WrongHeader:
        return "wrong-header";
    case Finding::Silence:
    case Finding::EchoOnly:
        return "no-data";
    case Finding::Exception:
    case Finding::CutOff:
    case Finding::WrongLength:
        break;
    }
    return "ignored";
}

std::string oneDecimal(double value) {
    // std::to_chars ignores the locale, where printf would write "34,0" under a German one.
    char text[64];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return error == std::errc() ? std::string(text, end) : std::string();
}

std::string isoUtcTime(std::chrono::system_clock::time_point time) {
    std::tm utc{};
    const int milliseconds = calendarTime(time, gmtime_r, utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
    return text;
}

std::string localClockTime(std::chrono::system_clock::time_point time) {
    std::tm local{};
    const int milliseconds = calendarTime(time, localtime_r, local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, milliseconds);
    return text;
}

std::vector<std::string> csvColumns() {
    return {"time",       "address", "outcome", "flow",      "total",     "bytes",  "crc",
            "latency_ms", "baud",    "echo",    "exception", "header_ok", "device", "total_back"};
}

std::vector<std::string> csvFields(const ReadingRecord& record) {
    const ReadOutcome& outcome = record.outcome;
    const bool values = hasValues(record);
    const bool replied = record.status == ReadingRecord::Status::Completed;
    return {
        isoUtcTime(record.time),
        optionalNumber(record.address),
        outcomeName(record),
        values ? numberText(outcome.flowText) : std::string(),
        values ? numberText(outcome.totalText) : std::string(),
        std::to_string(replied ? outcome.reply().size() : 0),
        values ? (outcome.checkValueOk ? "ok" : "bad") : std::string(),
        record.latencyMs ? oneDecimal(*record.latencyMs) : std::string(),
        std::to_string(record.baudRate),
        outcome.echoRemoved ? "true" : "false",
        outcome.exceptionCode ? std::to_string(*outcome.exceptionCode) : std::string(),
        optionalFlag(outcome.headerOk),
        record.device,
        record.totalBackFrom ? "true" : "false",
    };
}

std::string csvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& field = fields[i];
        line += i == 0 ? "" : ",";
        if (field.find_first_of(",\"\r\n") == std::string::npos) {
            line += field;
            continue;
        }
        line += '"';
        for (const char c : field) {
            line += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        line += '"';
    }
    return line;
}

std::string jsonObject(const ReadingRecord& record) {
    const std::vector<std::string> csv = csvFields(record);
    const auto number = [](const std::string& text) { return text.empty() ? "null" : text; };
    const bool values = hasValues(record);
    return "{\"time\":" + jsonString(csv[0]) + ",\"address\":" + number(csv[1]) +
           ",\"baud\":" + csv[8] + ",\"outcome\":" + jsonString(csv[2]) +
           ",\"flow\":" + number(csv[3]) + ",\"total\":" + number(csv[4]) + ",\"bytes\":" + csv[5] +
           ",\"crc_ok\":" + (values ? (record.outcome.checkValueOk ? "true" : "false") : "null") +
           ",\"latency_ms\":" + number(csv[7]) + ",\"echo\":" + csv[9] +
           ",\"exception\":" + number(csv[10]) + ",\"header_ok\":" + number(csv[11]) +
           ",\"device\":" + jsonString(record.device) + ",\"total_back\":" + csv[13] + "}";
}

std::string numberText(const std::string& displayText) {
    const std::size_t sign = displayText.find('-', 1);
    if (sign == std::string::npos) {
        return displayText;
    }
    return "-" + displayText.substr(0, sign) + displayText.substr(sign + 1);
}

} // namespace darq
