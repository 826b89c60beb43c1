#include "gateway/spool.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace darq {

namespace {

// Past these the done part of the file is copied away: at least this much, and at least as much
// as is still waiting, so that a copy never costs more than the records it frees.
constexpr off_t kLeastCompaction = 1 << 20;
constexpr std::size_t kReadChunk = 64 * 1024;
// A line longer than this is garbage: a record is a few hundred bytes.
constexpr std::size_t kLongestLine = 64 * 1024;
// Numbers are reserved on the disk this many at a time before they are given out: after a power
// cut the numbering goes on above any number a record may have been published with, though that
// record's line did not reach the disk.
constexpr std::uint64_t kReservedNumbers = 1000;

constexpr std::array<std::uint32_t, 256> crcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) != 0 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

// CRC-32 (as zip has it): a line that a power cut tore or filled with garbage fails it.
std::uint32_t crc32(std::string_view text) {
    static constexpr std::array<std::uint32_t, 256> table = crcTable();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : text) {
        crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::string checkedLine(const std::string& content) {
    char check[9];
    std::snprintf(check, sizeof check, "%08x", crc32(content));
    return std::string(check) + " " + content + "\n";
}

// A line of the file: a record "SEQ ADDRESS PAYLOAD"; "done SEQ", every record up to SEQ has
// left; "reserve SEQ", numbers up to SEQ may have been given out (the last such line counts: a
// clean stop lowers it to the last number used). Each starts with the CRC-32 of the rest in hex.
struct SpoolLine {
    enum class Kind { Damaged, Record, Done, Reserve };
    Kind kind = Kind::Damaged;
    SpooledRecord record; // for Done and Reserve only record.seq
};

bool isWaitingRecord(const SpoolLine& line, std::uint64_t doneSeq) {
    return line.kind == SpoolLine::Kind::Record && line.record.seq > doneSeq;
}

template <typename Number> bool readNumber(std::string_view& text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || end == text.data() + text.size() ||
        *end != ' ') {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
    return true;
}

SpoolLine parseLine(std::string_view line) {
    SpoolLine parsed;
    if (line.size() < 10 || line[8] != ' ') {
        return parsed;
    }
    std::uint32_t check = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + 8, check, 16);
    std::string_view content = line.substr(9);
    if (error != std::errc() || end != line.data() + 8 || crc32(content) != check) {
        return parsed;
    }
    for (const auto& [word, kind] : {std::pair("done ", SpoolLine::Kind::Done),
                                     std::pair("reserve ", SpoolLine::Kind::Reserve)}) {
        if (content.rfind(word, 0) == 0) {
            content.remove_prefix(std::strlen(word));
            const auto [seqEnd, seqError] =
                std::from_chars(content.data(), content.data() + content.size(), parsed.record.seq);
            if (seqError == std::errc() && seqEnd == content.data() + content.size()) {
                parsed.kind = kind;
            }
            return parsed;
        }
    }
    if (readNumber(content, parsed.record.seq) && readNumber(content, parsed.record.address)) {
        parsed.record.payload = std::string(content);
        parsed.kind = SpoolLine::Kind::Record;
    }
    return parsed;
}

// Reads the file line by line from an offset, a chunk at a time, through appends made since.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}

    void seek(off_t offset) {
        offset_ = offset;
        buffer_.clear();
        bufferStart_ = offset;
    }
    off_t offset() const { return offset_; }

    // The next whole line without its newline; none at the end of what is written (a line
    // still without its newline is not whole). Throws nothing: a read error reads as the end.
    std::optional<std::string_view> nextLine() {
        for (;;) {
            const std::size_t start = static_cast<std::size_t>(offset_ - bufferStart_);
            const std::size_t newline = buffer_.find('\n', start);
            if (newline != std::string::npos) {
                offset_ = bufferStart_ + static_cast<off_t>(newline) + 1;
                return std::string_view(buffer_).substr(start, newline - start);
            }
            if (buffer_.size() - start > kLongestLine) {
                // Garbage without a newline for this long: what follows the next one is read.
                offset_ = bufferStart_ + static_cast<off_t>(buffer_.size());
                return std::string_view();
            }
            if (!refill(start)) {
                return std::nullopt;
            }
        }
    }

private:
    // Into a chunk of its own, not a grown buffer: growing one fills it with zeros first, twice
    // per record while records are handed out as they come.
    bool refill(std::size_t start) {
        buffer_.erase(0, start);
        bufferStart_ = offset_;
        const ssize_t count = ::pread(fd_, chunk_.data(), chunk_.size(),
                                      bufferStart_ + static_cast<off_t>(buffer_.size()));
        if (count <= 0) {
            return false;
        }
        buffer_.append(chunk_.data(), static_cast<std::size_t>(count));
        return true;
    }

    int fd_;
    off_t offset_ = 0;
    off_t bufferStart_ = 0;
    std::string buffer_;
    std::vector<char> chunk_ = std::vector<char>(kReadChunk);
};

std::string errnoText() {
    return std::strerror(errno);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

class MemorySpool : public Spool {
public:
    explicit MemorySpool(std::size_t maximum) : maximum_(maximum) {}

    std::string append(int address, std::string_view recordJson) override {
        records_.push_back({nextSeq_, address, withSequenceNumber(recordJson, nextSeq_)});
        ++nextSeq_;
        while (records_.size() > maximum_) {
            popOldest();
            ++dropped_;
        }
        return {};
    }

    std::optional<SpooledRecord> next() override {
        if (handedOut_ >= records_.size()) {
            return std::nullopt;
        }
        return records_[handedOut_++];
    }

    void acknowledge(std::uint64_t seq) override {
        while (!records_.empty() && records_.front().seq <= seq) {
            popOldest();
        }
    }

    std::string sync() override { return {}; }
    std::string close() override { return {}; }
    std::size_t pending() const override { return records_.size(); }

private:
    void popOldest() {
        records_.pop_front();
        if (handedOut_ > 0) {
            --handedOut_;
        }
    }

    std::size_t maximum_;
    std::deque<SpooledRecord> records_;
    std::size_t handedOut_ = 0;
    std::uint64_t nextSeq_ = 1;
};

// The records on disk: appended to the end, never rewritten in place. What the broker has is
// marked by a "done" line, written when the file is synced; the part before the first waiting
// record is copied away once it outweighs the rest. In memory only the positions: a spool of a
// million records costs its file, not its process.
class FileSpool : public Spool {
public:
    FileSpool(std::string path, std::size_t maximum, int fd)
        : path_(std::move(path)), maximum_(maximum), fd_(fd), reader_(fd) {}
    ~FileSpool() override { ::close(fd_); }

    // Finds the numbering and the first waiting record, and cuts a torn last line off.
    std::string load() {
        LineReader scan(fd_);
        off_t end = 0;
        std::uint64_t lastRecord = 0;
        while (const std::optional<std::string_view> line = scan.nextLine()) {
            end = scan.offset();
            const SpoolLine parsed = parseLine(*line);
            const std::uint64_t seq = parsed.record.seq;
            switch (parsed.kind) {
            case SpoolLine::Kind::Record:
                lastRecord = std::max(lastRecord, seq);
                break;
            case SpoolLine::Kind::Done:
                doneSeq_ = std::max(doneSeq_, seq);
                break;
            case SpoolLine::Kind::Reserve:
                reserved_ = seq;
                break;
            case SpoolLine::Kind::Damaged:
                break;
            }
        }
        if (::ftruncate(fd_, end) != 0) {
            return "cannot cut the torn last line off the spool \"" + path_ + "\": " + errnoText();
        }
        size_ = end;
        lastSeq_ = std::max({lastRecord, reserved_, doneSeq_});
        reserved_ = lastSeq_;
        waiting_ = lastRecord > doneSeq_ ? lastRecord - doneSeq_ : 0;
        return {};
    }

    std::string append(int address, std::string_view recordJson) override {
        const std::uint64_t seq = lastSeq_ + 1;
        if (seq > reserved_) {
            const std::string reserve =
                checkedLine("reserve " + std::to_string(seq + kReservedNumbers - 1));
            if (!writeAll(fd_, reserve) || ::fdatasync(fd_) != 0) {
                ++dropped_;
                return "cannot write the spool \"" + path_ + "\": " + errnoText();
            }
            size_ += static_cast<off_t>(reserve.size());
            reserved_ = seq + kReservedNumbers - 1;
        }
        const std::string line = checkedLine(std::to_string(seq) + " " + std::to_string(address) +
                                             " " + withSequenceNumber(recordJson, seq));
        if (!writeAll(fd_, line)) {
            const std::string reason = errnoText();
            ++dropped_;
            // A part written would be a torn line; it is cut off so that the next starts clean.
            if (::ftruncate(fd_, size_) != 0) {
                return "cannot write the spool \"" + path_ + "\": " + reason +
                       "; the part written stays as a damaged line";
            }
            return "cannot write the spool \"" + path_ + "\": " + reason;
        }
        lastSeq_ = seq;
        size_ += static_cast<off_t>(line.size());
        dirty_ = true;
        if (++waiting_ > maximum_) {
            const std::uint64_t excess = waiting_ - maximum_;
            doneSeq_ += excess;
            waiting_ = maximum_;
            dropped_ += excess;
            droppedSinceCopy_ += excess;
            doneDirty_ = true;
        }
        return {};
    }

    std::optional<SpooledRecord> next() override {
        while (const std::optional<std::string_view> line = reader_.nextLine()) {
            SpoolLine parsed = parseLine(*line);
            if (!isWaitingRecord(parsed, doneSeq_)) {
                // A record dropped from a full spool is older than every one handed out.
                if (parsed.kind == SpoolLine::Kind::Record) {
                    handedOut_.clear();
                }
                if (handedOut_.empty()) {
                    doneOffset_ = reader_.offset();
                }
                continue;
            }
            handedOut_.push_back({parsed.record.seq, reader_.offset()});
            return std::move(parsed.record);
        }
        return std::nullopt;
    }

    void acknowledge(std::uint64_t seq) override {
        if (seq <= doneSeq_) {
            return;
        }
        waiting_ -= std::min<std::uint64_t>(waiting_, seq - doneSeq_);
        doneSeq_ = seq;
        doneDirty_ = true;
        while (!handedOut_.empty() && handedOut_.front().seq <= seq) {
            doneOffset_ = handedOut_.front().end;
            handedOut_.pop_front();
        }
    }

    std::string sync() override {
        if (doneDirty_) {
            const std::string line = checkedLine("done " + std::to_string(doneSeq_));
            if (!writeAll(fd_, line)) {
                return "cannot write the spool \"" + path_ + "\": " + errnoText();
            }
            size_ += static_cast<off_t>(line.size());
            doneDirty_ = false;
            dirty_ = true;
        }
        if (dirty_ && ::fdatasync(fd_) != 0) {
            return "cannot save the spool \"" + path_ + "\" to disk: " + errnoText();
        }
        dirty_ = false;
        const bool doneOutweighs = doneOffset_ >= kLeastCompaction && doneOffset_ >= size_ / 2;
        const bool droppedOutweigh =
            droppedSinceCopy_ >= std::max<std::uint64_t>(waiting_, 1) && size_ >= kLeastCompaction;
        return doneOutweighs || droppedOutweigh ? compact() : std::string();
    }

    std::string close() override {
        std::string error = sync();
        const std::string line = checkedLine("reserve " + std::to_string(lastSeq_));
        if (error.empty() && (!writeAll(fd_, line) || ::fdatasync(fd_) != 0)) {
            error = "cannot save the spool \"" + path_ + "\" to disk: " + errnoText();
        }
        return error;
    }

    std::size_t pending() const override { return static_cast<std::size_t>(waiting_); }

private:
    struct HandedOut {
        std::uint64_t seq;
        off_t end; // where the line after it starts
    };

    // Writes the waiting records to a new file and puts it in the old one's place, so that a
    // power cut at any moment leaves one whole spool or the other.
    std::string compact() {
        const std::string copyPath = path_ + ".new";
        const int copy =
            ::open(copyPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
        if (copy < 0) {
            return "cannot make room in the spool \"" + path_ + "\": " + copyPath + ": " +
                   errnoText();
        }
        ::flock(copy, LOCK_EX | LOCK_NB);
        std::string out = checkedLine("done " + std::to_string(doneSeq_)) +
                          checkedLine("reserve " + std::to_string(reserved_));
        off_t written = 0;
        off_t newReadOffset = -1;
        std::deque<HandedOut> newHandedOut;
        LineReader source(fd_);
        source.seek(doneOffset_);
        auto handed = handedOut_.begin();
        bool ok = true;
        for (;;) {
            const off_t lineStart = source.offset();
            const std::optional<std::string_view> line = source.nextLine();
            if (lineStart == reader_.offset()) {
                newReadOffset = written + static_cast<off_t>(out.size());
            }
            if (!line) {
                break;
            }
            const SpoolLine parsed = parseLine(*line);
            if (!isWaitingRecord(parsed, doneSeq_)) {
                continue;
            }
            out.append(*line).push_back('\n');
            while (handed != handedOut_.end() && handed->seq < parsed.record.seq) {
                ++handed;
            }
            if (handed != handedOut_.end() && handed->seq == parsed.record.seq) {
                newHandedOut.push_back({handed->seq, written + static_cast<off_t>(out.size())});
            }
            if (out.size() >= kReadChunk) {
                ok = ok && writeAll(copy, out);
                written += static_cast<off_t>(out.size());
                out.clear();
            }
        }
        ok = ok && writeAll(copy, out) && ::fdatasync(copy) == 0;
        written += static_cast<off_t>(out.size());
        if (!ok || ::rename(copyPath.c_str(), path_.c_str()) != 0) {
            const std::string reason = errnoText();
            ::close(copy);
            ::unlink(copyPath.c_str());
            return "cannot make room in the spool \"" + path_ + "\": " + reason;
        }
        syncFolder();
        ::close(fd_);
        fd_ = copy;
        size_ = written;
        doneOffset_ = 0;
        droppedSinceCopy_ = 0;
        handedOut_ = std::move(newHandedOut);
        reader_ = LineReader(fd_);
        reader_.seek(newReadOffset >= 0 ? newReadOffset : written);
        return {};
    }

    // The rename reaches the disk with the folder's entry.
    void syncFolder() {
        const std::size_t slash = path_.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }

    std::string path_;
    std::size_t maximum_;
    int fd_;
    LineReader reader_;
    off_t size_ = 0;
    std::uint64_t lastSeq_ = 0;  // the last number given out
    std::uint64_t reserved_ = 0; // the last number reserved on the disk
    std::uint64_t doneSeq_ = 0;  // every record up to this one has left
    std::uint64_t waiting_ = 0;
    std::uint64_t droppedSinceCopy_ = 0;
    off_t doneOffset_ = 0; // every line before it is done
    std::deque<HandedOut> handedOut_;
    bool dirty_ = false;
    bool doneDirty_ = false;
};

} // namespace

std::unique_ptr<Spool> Spool::inMemory(std::size_t maximum) {
    return std::make_unique<MemorySpool>(maximum);
}

Spool::Opened Spool::openFile(const std::string& path, std::size_t maximum) {
    Opened opened;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        opened.error = "cannot open the spool \"" + path + "\": " + errnoText();
        return opened;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        opened.error = "the spool \"" + path + "\" is in use by another darq-read";
        ::close(fd);
        return opened;
    }
    auto spool = std::make_unique<FileSpool>(path, maximum, fd);
    opened.error = spool->load();
    if (opened.error.empty()) {
        opened.spool = std::move(spool);
    }
    return opened;
}

std::string withSequenceNumber(std::string_view recordJson, std::uint64_t seq) {
    const std::size_t close = recordJson.find_last_of('}');
    const std::string field = "\"seq\":" + std::to_string(seq);
    if (close == std::string_view::npos) {
        return "{" + field + "}";
    }
    const std::size_t last = recordJson.find_last_not_of(" \t\r\n", close - 1);
    const bool empty = last == std::string_view::npos || recordJson[last] == '{';
    return std::string(recordJson.substr(0, close)) + (empty ? "" : ",") + field + "}";
}

} // namespace darq
