#include "read/scan_session.h"

#include "read/read_summary.h"
#include "read/reading_output.h"

#include <chrono>
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
    if (options.timeoutMs) {
        plan.turnaroundAllowanceMs = *options.timeoutMs;
    }
    return plan;
}

} // namespace

ScanSession::ScanSession(const ReadOptions& options, const QString& device, QObject* parent)
    : QObject(parent), options_(options), search_(port_, planOf(options)),
      progressOnTerminal_(::isatty(STDERR_FILENO) == 1) {
    port_.setDevice(device);
    connect(&search_, &InstrumentSearch::attemptFinished, this, &ScanSession::onAttemptFinished);
    connect(&search_, &InstrumentSearch::progress, this, &ScanSession::onProgress);
    connect(&search_, &InstrumentSearch::instrumentFound, this, &ScanSession::onInstrumentFound);
    connect(&search_, &InstrumentSearch::finished, this, &ScanSession::onFinished);
}

void ScanSession::start() {
    if (!port_.open()) {
        std::cerr << "darq-read: " << port_.lastError().message().toStdString() << std::endl;
        emit finished(kExitPortUnusable);
        return;
    }
    if (options_.format == OutputFormat::Csv) {
        std::cout << csvHeader() << std::flush;
    }
    search_.start();
}

void ScanSession::stop() {
    search_.cancel();
}

void ScanSession::onAttemptFinished(const ExchangeReport& report) {
    if (options_.trace) {
        clearProgressLine();
        std::cerr << traceLine(">", report.request) << traceLine("<", report.outcome.received)
                  << std::flush;
    }
}

void ScanSession::onProgress(int attemptsDone, int plannedAttempts, int baudRate, int address,
                             int msLeft) {
    if (!progressOnTerminal_) {
        return;
    }
    char line[96];
    std::snprintf(line, sizeof line, "\r%d Bd  address %3d  attempt %d of %d  about %d s left ",
                  baudRate, address, attemptsDone + 1, plannedAttempts, (msLeft + 999) / 1000);
    std::cerr << line << std::flush;
    progressShown_ = true;
}

void ScanSession::onInstrumentFound(const FoundInstrument& instrument) {
    clearProgressLine();
    ReadingRecord record;
    record.time = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(instrument.report.sentAt.toMSecsSinceEpoch()));
    record.address = instrument.address;
    record.baudRate = instrument.baudRate;
    record.namesInstrument = true;
    record.request = instrument.report.request;
    record.outcome = instrument.report.outcome;
    std::cout << formatReading(options_.format, record) << std::flush;
    if (!std::cout) {
        outputLost_ = true;
        search_.cancel();
    }
}

void ScanSession::onFinished(const SearchHearing& hearing) {
    clearProgressLine();
    std::cerr << hearing.summary().toStdString() << std::endl;
    port_.close();
    if (outputLost_ || !std::cout || !std::cerr) {
        reportLostOutput();
        emit finished(kExitOutputLost);
        return;
    }
    switch (hearing.ended) {
    case SearchHearing::Ended::PortClosed:
    case SearchHearing::Ended::SendFailed:
    case SearchHearing::Ended::RateRefused:
        emit finished(kExitPortUnusable);
        return;
    case SearchHearing::Ended::Searched:
    case SearchHearing::Ended::Cancelled:
        break;
    }
    emit finished(hearing.found.empty() ? kExitSomeNotDecoded : kExitAllDecoded);
}

void ScanSession::clearProgressLine() {
    if (progressShown_) {
        std::cerr << "\r" << std::string(72, ' ') << "\r" << std::flush;
        progressShown_ = false;
    }
}

} // namespace darq
