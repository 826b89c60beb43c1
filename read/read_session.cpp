#include "read/read_session.h"

#include "protocol/line_timing.h"
#include "serial/line_settings.h"

#include <iostream>

namespace darq {

namespace {

using SteadyClock = std::chrono::steady_clock;

int timerMilliseconds(SteadyClock::duration wait) {
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return rounded > 0 ? static_cast<int>(rounded) : 0;
}

} // namespace

ReadSession::ReadSession(const ReadOptions& options, const QString& device, QObject* parent)
    : QObject(parent), options_(options), engine_(port_) {
    port_.setDevice(device);
    LineSettings settings; // no parity, 8 data bits, 2 stop bits: the instrument's line
    settings.baudRate = options_.baudRates.front();
    port_.setSettings(QString::fromStdString(formatLineSettings(settings)));
    for (const int address : options_.addresses) {
        summaries_.push_back({address, ReadSummary()});
    }
    nextCycleTimer_.setSingleShot(true);
    nextCycleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&nextCycleTimer_, &QTimer::timeout, this, &ReadSession::startCycle);
    connect(&engine_, &ExchangeEngine::finished, this, &ReadSession::onExchangeFinished);
    connect(&engine_, &ExchangeEngine::lateBytes, this, &ReadSession::onLateBytes);
    connect(&port_, &CommControl::portLost, this,
            [this](const PortError& error) { endWithPortError(error.message()); });
}

void ReadSession::start() {
    if (done_) {
        return; // interrupted before the port was opened
    }
    if (!port_.open()) {
        std::cerr << "darq-read: " << port_.lastError().message().toStdString() << std::endl;
        done_ = true;
        emit finished(kExitPortUnusable);
        return;
    }
    if (options_.format == OutputFormat::Csv && !print(csvHeader())) {
        return;
    }
    startCycle();
}

void ReadSession::stop() {
    if (!done_) {
        end(summary_.exitStatus());
    }
}

void ReadSession::startCycle() {
    cycleStart_ = SteadyClock::now();
    addressIndex_ = 0;
    readNext();
}

void ReadSession::readNext() {
    ExchangeOrder order;
    order.address = options_.addresses[addressIndex_];
    order.wait = ReplyWait::CompleteReply;
    if (options_.timeoutMs) {
        order.timeout = std::chrono::milliseconds(*options_.timeoutMs);
    }
    if (engine_.submit(this, order) != ReadStart::Accepted) {
        endWithPortError(port_.lastError().message());
    }
}

void ReadSession::onExchangeFinished(const ReadingRecord& record, const QObject* requester) {
    if (requester != this || done_) {
        return;
    }
    if (record.status != ReadingRecord::Status::Completed) {
        endWithPortError(QString::fromStdString(record.problem));
        return;
    }
    trace(record.time, ">", record.request);
    trace(std::chrono::system_clock::now(), "<", record.outcome.received);
    summary_.add(record);
    summaries_[addressIndex_].second.add(record);
    if (done_ || !print(formatReading(options_.format, record, options_.addresses.size() > 1))) {
        return;
    }
    // The next instrument on the bus at once; the next cycle on time.
    if (++addressIndex_ < options_.addresses.size()) {
        readNext();
        return;
    }
    ++cycles_;
    if (options_.count != 0 && cycles_ >= options_.count) {
        end(summary_.exitStatus());
        return;
    }
    const auto nextStart = cycleStart_ + std::chrono::milliseconds(options_.intervalMs);
    nextCycleTimer_.start(timerMilliseconds(nextStart - SteadyClock::now()));
}

void ReadSession::onLateBytes(const Bytes& bytes, std::optional<qint64> msLate) {
    trace(std::chrono::system_clock::now(), "~", bytes);
    // Bytes after a read that ended without its whole reply are most likely that reply, late.
    if (msLate && !toldLateReply_ && !done_) {
        toldLateReply_ = true;
        const int timeoutMs = options_.timeoutMs.value_or(settleTimeMs(options_.baudRates.front()));
        std::cerr << "darq-read: a reply came " << *msLate << " ms late: raise --timeout (it is "
                  << timeoutMs << " ms)" << std::endl;
    }
}

void ReadSession::endWithPortError(const QString& message) {
    if (done_) {
        return;
    }
    std::cerr << "darq-read: " << message.toStdString() << std::endl;
    end(kExitPortUnusable);
}

bool ReadSession::print(const std::string& text) {
    if (output_.write(text)) {
        return true;
    }
    output_.reportFailure();
    end(kExitOutputLost);
    return false;
}

void ReadSession::end(int exitStatus) {
    done_ = true;
    nextCycleTimer_.stop();
    // Closed before anything else, so that the device's lock file goes whatever follows.
    port_.close();
    if (options_.count != 1 && summaries_.size() == 1) {
        std::cerr << "summary: " << summary_.line() << std::endl;
    } else if (summaries_.size() > 1) {
        for (const auto& [address, summary] : summaries_) {
            std::cerr << "summary: address " << address << ": " << summary.line() << std::endl;
        }
    }
    emit finished(std::cerr.fail() ? kExitOutputLost : exitStatus);
}

void ReadSession::trace(std::chrono::system_clock::time_point time, const char* direction,
                        const Bytes& frame) {
    if (options_.trace) {
        std::cerr << traceLine(time, direction, frame) << std::flush;
        if (std::cerr.fail()) {
            end(kExitOutputLost);
        }
    }
}

} // namespace darq
