#include "read/scan_session.h"

#include "read/read_summary.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace darq {

namespace {

SearchPlan planOf(const ReadOptions& options) {
    SearchPlan plan;
    plan.baudRates = options.baudRates;
    plan.addresses = options.addresses;
    plan.findAll = options.findAll;
    plan.timeoutMs = options.timeoutMs;
    return plan;
}

} // namespace

ScanSession::ScanSession(const ReadOptions& options, const QString& device, QObject* parent)
    : QObject(parent), options_(options), engine_(port_), search_(engine_, planOf(options)),
      progressOnTerminal_(::isatty(STDERR_FILENO) == 1) {
    port_.setDevice(device);
    port_.setRs485(options.rs485);
    connect(&engine_, &ExchangeEngine::finished, this,
            [this](const ReadingRecord& record) { onAttemptFinished(record); });
    connect(&search_, &InstrumentSearch::progress, this, &ScanSession::onProgress);
    connect(&search_, &InstrumentSearch::instrumentFound, this, &ScanSession::onInstrumentFound);
    connect(&search_, &InstrumentSearch::finished, this, &ScanSession::onFinished);
    // A serial device opens at once, a device server's TCP port in the background.
    connect(&port_, &CommControl::portOpenChanged, this, [this](bool open) {
        if (open) {
            onPortOpened();
        }
    });
    connect(&port_, &CommControl::openFailed, this, &ScanSession::onOpenFailed);
}

void ScanSession::start() {
    if (!port_.open() && !port_.isOpening()) {
        onOpenFailed(port_.lastError());
    }
}

void ScanSession::onOpenFailed(const PortError& error) {
    std::cerr << "darq-read: " << error.message().toStdString() << std::endl;
    emit finished(kExitPortUnusable);
}

void ScanSession::onPortOpened() {
    if (writesCsvHeader(options_) && !output_.write(csvHeader())) {
        port_.close();
        output_.reportFailure();
        emit finished(kExitOutputLost);
        return;
    }
    search_.start();
}

void ScanSession::stop() {
    search_.cancel();
}

void ScanSession::onAttemptFinished(const ReadingRecord& record) {
    if (options_.trace && record.status == ReadingRecord::Status::Completed) {
        clearProgressLine();
        std::cerr << traceLine(record.time, ">", record.request)
                  << traceLine(std::chrono::system_clock::now(), "<", record.outcome.received)
                  << std::flush;
    }
}

void ScanSession::onProgress(int attemptsDone, int plannedAttempts, int baudRate, int address,
                             qint64 msLeft) {
    if (!progressOnTerminal_) {
        return;
    }
    char line[96];
    std::snprintf(line, sizeof line, "\r%d Bd  address %3d  attempt %d of %d  about %lld s left ",
                  baudRate, address, attemptsDone + 1, plannedAttempts,
                  static_cast<long long>((msLeft + 999) / 1000));
    std::cerr << line << std::flush;
    progressShown_ = true;
}

void ScanSession::onInstrumentFound(const FoundInstrument& instrument) {
    clearProgressLine();
    if (!output_.write(formatReading(options_.format, instrument.record, true))) {
        search_.cancel();
    }
}

void ScanSession::onFinished(const SearchHearing& hearing) {
    // Closed before anything else, so that the device's lock file goes whatever follows.
    port_.close();
    if (output_.failed()) {
        output_.reportFailure();
        emit finished(kExitOutputLost);
        return;
    }
    clearProgressLine();
    std::cerr << hearing.summary().toStdString() << std::endl;
    if (!std::cerr) {
        emit finished(kExitOutputLost);
    } else if (hearing.ended == SearchHearing::Ended::PortProblem) {
        emit finished(kExitPortUnusable);
    } else {
        emit finished(hearing.found.empty() ? kExitWithoutData : kExitSuccess);
    }
}

void ScanSession::clearProgressLine() {
    if (progressShown_) {
        std::cerr << "\r" << std::string(72, ' ') << "\r" << std::flush;
        progressShown_ = false;
    }
}

} // namespace darq
