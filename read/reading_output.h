#pragma once

#include "protocol/bytes.h"
#include "protocol/reply.h"
#include "read/read_options.h"

#include <chrono>
#include <optional>
#include <string>

namespace darq {

// One reading as darq-read reports it.
struct ReadingRecord {
    std::chrono::system_clock::time_point time; // when the request went out
    int address = 0;
    int baudRate = 0;
    Bytes request;
    ReadOutcome outcome;
    std::optional<double> latencyMs; // end of the send to the last byte; none when nothing came
    bool endedWhileArriving = false; // the wait ran out with bytes still coming
    // Text names the instrument ("address 5  9600 Bd  flow ...") where several are read or found.
    bool namesInstrument = false;
};

// A number with one decimal and a point, whatever the locale: "34.0". Machine output must read the
// same everywhere.
std::string oneDecimal(double value);

// ISO 8601 in UTC with milliseconds, for example 2024-05-01T08:30:00.125Z.
std::string isoUtcTime(std::chrono::system_clock::time_point time);

// One line of --trace: the time, ">" for sent or "<" for received (and "~" for bytes dropped
// between reads), and the bytes in hex, "(nothing)" for none.
std::string traceLine(const char* direction, const Bytes& frame);

// When standard output or standard error has failed: says so on standard error when that still
// works, and returns true. A script must not take a run whose readings went nowhere for a good
// one.
bool reportLostOutput();

// The first line of a csv log; the other formats have none.
std::string csvHeader();

// The lines one reading gives in `format`, each ending in a newline. Text shows
// "flow 1234.56  total 12345.678", "no data", "ignored: N bytes" or "exception 02 illegal data
// address", and under a reading that did not come through cleanly a second line saying what it
// most likely means.
std::string formatReading(OutputFormat format, const ReadingRecord& record);

} // namespace darq
