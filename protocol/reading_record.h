#pragma once

#include "protocol/bytes.h"
#include "protocol/reply.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace darq {

// One read on the line, as every program reports it: darq-read prints it, the window's traffic
// log keeps and saves it.
struct ReadingRecord {
    enum class Status {
        Completed,   // the request went out and the wait ended: `outcome` says what came
        NotSent,     // nothing went out; `problem` says why
        Interrupted, // the port closed or the read was cancelled while the reply was awaited
        PortLost,    // the port is away (unplugged, reset) and being reopened: no read was made
    };

    std::chrono::system_clock::time_point time; // when the request went out (or was refused)
    std::string device;                         // e.g. /dev/ttyUSB0
    std::optional<int> address;                 // none when no address was selected
    int baudRate = 0;
    Status status = Status::Completed;
    Bytes request; // what was sent; empty when nothing was
    ReadOutcome outcome;
    // From the end of the send to the reply's last byte; none when nothing came.
    std::optional<double> latencyMs;
    std::string problem; // why a read was not sent or was interrupted, in plain words
    // Set on a clean reading whose total is below the one before it from the same address: that
    // one's total, as displayed. Only a program that follows the totals (TotalWatch) sets it.
    std::optional<std::string> totalBackFrom;
};

// decoded, bad-check, wrong-header, ignored, no-data; not-sent, interrupted and port-lost for a
// read that never came to a reply.
std::string outcomeName(const ReadingRecord& record);

// A number with one decimal and a point, whatever the locale: "34.0". Machine output must read the
// same everywhere.
std::string oneDecimal(double value);

// ISO 8601 in UTC with milliseconds, for example 2024-05-01T08:30:00.125Z.
std::string isoUtcTime(std::chrono::system_clock::time_point time);

// The time of day in the machine's time zone with milliseconds, for example 10:30:00.125: what a
// technician matches with the wall clock, where files and scripts keep UTC.
std::string localClockTime(std::chrono::system_clock::time_point time);

// The record's columns for a CSV file: time,address,outcome,flow,total,bytes,crc,latency_ms,baud,
// echo,exception,header_ok,device,total_back. The values of a 17-byte reply stay in flow and total
// whatever its verdict, for diagnosis; the outcome says whether they are a reading. They are
// numbers with the instrument's own decimals, so "12.50" stays 12.50. New columns go at the end, so
// that files and scripts that read the earlier ones keep working.
std::vector<std::string> csvColumns();
std::vector<std::string> csvFields(const ReadingRecord& record);
// Fields joined by commas, quoted where a comma, quote or line break needs it; no line end.
std::string csvLine(const std::vector<std::string>& fields);

// The record as one JSON object on one line, with the CSV's fields: flow and total are JSON
// numbers, crc_ok, echo and header_ok true, false or null, total_back true or false, the other
// numbers numbers or null.
std::string jsonObject(const ReadingRecord& record);

// A reading's display text as a number: the window shows the total's high part in front of its low
// part, sign and all ("7-123.45"); as a number the sign goes in front of every digit.
std::string numberText(const std::string& displayText);

} // namespace darq
