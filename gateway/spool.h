#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace darq {

// A record on its way to the broker: what the reading loop gave, with its number added.
struct SpooledRecord {
    std::uint64_t seq = 0;
    int address = 0;
    std::string payload; // the record's JSON object with "seq" as its last field
};

// The records not yet acknowledged by the broker, oldest first, each numbered one above the
// last. Holds at most `maximum` of them: a new one beyond that pushes the oldest out, and those
// are counted. Used by one thread.
class Spool {
public:
    virtual ~Spool() = default;

    // Unacknowledged records in memory: a stop loses them, and numbering starts at 1 each run.
    static std::unique_ptr<Spool> inMemory(std::size_t maximum);

    struct Opened {
        std::unique_ptr<Spool> spool; // set when `error` is empty
        std::string error;            // naming the file and the reason
    };
    // Records on disk at `path`, kept across runs with their numbering: what a previous run left
    // unacknowledged comes first. A damaged line (a torn last line after a power cut, garbage)
    // costs that line only. The file is locked against a second gateway.
    static Opened openFile(const std::string& path, std::size_t maximum);

    // Numbers the record and keeps it. Empty, or why it could not be kept (it is then counted
    // as dropped).
    virtual std::string append(int address, std::string_view recordJson) = 0;

    // The oldest record not handed out yet; none when every one has been.
    virtual std::optional<SpooledRecord> next() = 0;

    // The broker has the record `seq` and every one before it.
    virtual void acknowledge(std::uint64_t seq) = 0;

    // Puts what was appended and acknowledged on the disk. Empty, or why that failed.
    virtual std::string sync() = 0;

    // sync() for the last time, at a clean stop: the next run numbers on without a gap. After an
    // unclean end it skips the numbers reserved but not used.
    virtual std::string close() = 0;

    virtual std::size_t pending() const = 0; // kept and not acknowledged, handed out or not
    std::uint64_t dropped() const { return dropped_; }

protected:
    std::uint64_t dropped_ = 0;
};

// The record with `"seq":N` as its last field; the reading loop's JSON object as it is otherwise.
std::string withSequenceNumber(std::string_view recordJson, std::uint64_t seq);

} // namespace darq
