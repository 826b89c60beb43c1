#pragma once

#include "protocol/reading_record.h"
#include "read/read_options.h"

#include <string>

namespace darq {

// One line of --trace: the time, ">" for sent or "<" for received (and "~" for bytes dropped
// between reads), and the bytes in hex, "(nothing)" for none.
std::string traceLine(std::chrono::system_clock::time_point time, const char* direction,
                      const Bytes& frame);

// The first line of a csv log; the other formats have none.
std::string csvHeader();

// Whether the output starts with csvHeader(): in csv, without --no-header, and unless standard
// output carries on a file that already has lines (`darq-read -f csv >> log.csv`), whose header
// its first run wrote.
bool writesCsvHeader(const ReadOptions& options);

// The lines one reading gives in `format`, each ending in a newline. Text starts with the local
// time the request went out, "08:30:00.125  ", then shows "flow 1234.56  total 12345.678",
// "no data", "ignored: N bytes" or "exception 02 illegal data address"; under a reading that did
// not come through cleanly an indented second line, without the time, says what it most likely
// means. `namesInstrument`: "address 5  9600 Bd  " follows the time, where several instruments
// are read or found.
std::string formatReading(OutputFormat format, const ReadingRecord& record,
                          bool namesInstrument = false);

// Standard output, where the readings go. A write that fails is remembered with its own reason
// (a full disk, a reader that went away): a script must not take a run whose readings went
// nowhere for a good one.
class ReadingsOutput {
public:
    // Writes and flushes at once; false once standard output has failed.
    bool write(const std::string& text);
    bool failed() const { return error_ != 0; }
    // Says on standard error, when that still works, why the readings could not be written.
    void reportFailure() const;

private:
    int error_ = 0;
};

} // namespace darq
