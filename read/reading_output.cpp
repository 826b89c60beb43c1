#include "read/reading_output.h"

#include "protocol/reply_words.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace darq {

namespace {

// A regular file written after what it already holds: appended to, or a later run's output in one
// redirection.
bool continuesAFile(int descriptor) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags != -1 && (flags & O_APPEND) != 0) {
        return info.st_size > 0;
    }
    return ::lseek(descriptor, 0, SEEK_CUR) > 0;
}

std::string textLines(const ReadingRecord& record, bool namesInstrument) {
    const ReadOutcome& outcome = record.outcome;
    std::string lines = localClockTime(record.time) + "  ";
    if (namesInstrument) {
        lines += "address " + std::to_string(record.address.value_or(0)) + "  " +
                 std::to_string(record.baudRate) + " Bd  ";
    }
    if (record.status == ReadingRecord::Status::PortLost) {
        return lines + "port lost\n  " + record.problem + "\n";
    }
    switch (outcome.kind) {
    case ReadOutcome::Kind::Decoded:
        lines += "flow " + outcome.flowText + "  total " + outcome.totalText;
        if (!outcome.checkValueOk) {
            lines += "  bad CRC";
        }
        break;
    case ReadOutcome::Kind::NoData:
        lines += "no data";
        break;
    case ReadOutcome::Kind::Ignored:
        lines += outcome.exceptionCode
                     ? "exception " + render(exceptionWords(*outcome.exceptionCode))
                     : "ignored: " + std::to_string(outcome.reply().size()) + " bytes";
        break;
    }
    if (outcome.echoRemoved) {
        lines += "  echo removed";
    }
    lines += "\n";
    if (const std::optional<Words> words = explanationWords(outcome, WordsFor::CommandLine)) {
        lines += "  " + render(*words) + "\n";
    }
    return lines;
}

} // namespace

std::string traceLine(std::chrono::system_clock::time_point time, const char* direction,
                      const Bytes& frame) {
    return isoUtcTime(time) + ' ' + direction + ' ' +
           (frame.empty() ? std::string("(nothing)") : hexText(frame)) + '\n';
}

std::string csvHeader() {
    return csvLine(csvColumns()) + "\n";
}

bool writesCsvHeader(const ReadOptions& options) {
    return options.format == OutputFormat::Csv && !options.noHeader &&
           !continuesAFile(STDOUT_FILENO);
}

std::string formatReading(OutputFormat format, const ReadingRecord& record, bool namesInstrument) {
    switch (format) {
    case OutputFormat::Text:
        return textLines(record, namesInstrument);
    case OutputFormat::Csv:
        return csvLine(csvFields(record)) + "\n";
    case OutputFormat::Json:
        return jsonObject(record) + "\n";
    }
    return {};
}

bool ReadingsOutput::write(const std::string& text) {
    // Straight to the descriptor: the reason of a failure is the one of this very write, where a
    // stream's would be whatever errno held by the time anyone asked.
    for (std::size_t written = 0; written < text.size() && error_ == 0;) {
        const ssize_t count = ::write(STDOUT_FILENO, text.data() + written, text.size() - written);
        if (count >= 0) {
            written += std::size_t(count);
        } else if (errno != EINTR) {
            error_ = errno;
        }
    }
    return error_ == 0;
}

void ReadingsOutput::reportFailure() const {
    std::cerr << "darq-read: cannot write the readings to standard output: "
              << std::strerror(error_) << std::endl;
}

} // namespace darq
