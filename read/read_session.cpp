#include "read/read_session.h"

#include "protocol/line_timing.h"
#include "protocol/reply_words.h"
#include "serial/line_settings.h"
#include "serial/port_names.h"

#include <iostream>

namespace darq {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A lost port is tried again after half a second, then after twice the pause before, up to ten
// seconds: an adapter that comes back is found soon, a long outage costs a retry every ten.
constexpr int kFirstReopenPauseMs = 500;
constexpr int kLongestReopenPauseMs = 10000;

int timerMilliseconds(SteadyClock::duration wait) {
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return rounded > 0 ? static_cast<int>(rounded) : 0;
}

} // namespace

ReadSession::ReadSession(const ReadOptions& options, const QString& portArgument, Gateway* gateway,
                         QObject* parent)
    : QObject(parent), options_(options), portArgument_(portArgument), engine_(port_),
      gateway_(gateway) {
    port_.setDevice(deviceForPortArgument(portArgument_));
    port_.setRs485(options_.rs485);
    LineSettings settings; // no parity, 8 data bits, 2 stop bits: the instrument's line
    settings.baudRate = options_.baudRates.front();
    port_.setSettings(QString::fromStdString(formatLineSettings(settings)));
    for (const int address : options_.addresses) {
        summaries_.push_back({address, ReadSummary()});
    }
    nextCycleTimer_.setSingleShot(true);
    nextCycleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&nextCycleTimer_, &QTimer::timeout, this, &ReadSession::startCycle);
    reopenTimer_.setSingleShot(true);
    connect(&reopenTimer_, &QTimer::timeout, this, &ReadSession::openPort);
    if (const auto period = service_.alivePeriod()) {
        aliveTimer_.setInterval(*period);
        connect(&aliveTimer_, &QTimer::timeout, this, [this] { service_.alive(); });
    }
    connect(&engine_, &ExchangeEngine::finished, this, &ReadSession::onExchangeFinished);
    connect(&engine_, &ExchangeEngine::lateBytes, this, &ReadSession::onLateBytes);
    connect(&port_, &CommControl::portLost, this,
            [this](const PortError& error) { portGone(error.message()); });
    // A serial device opens at once, a device server's TCP port in the background: both end here.
    connect(&port_, &CommControl::portOpenChanged, this, [this](bool open) {
        if (open) {
            onPortOpened();
        }
    });
    connect(&port_, &CommControl::openFailed, this, &ReadSession::onOpenFailed);
}

void ReadSession::start() {
    if (done_) {
        return; // interrupted before the port was opened
    }
    if (!options_.quiet && writesCsvHeader(options_) && !print(csvHeader())) {
        return;
    }
    openPort();
}

void ReadSession::openPort() {
    // Resolved afresh: a /dev/serial/by-id name, or COM1, may stand for another node after replug.
    port_.setDevice(deviceForPortArgument(portArgument_));
    if (!port_.open() && !port_.isOpening()) {
        onOpenFailed(port_.lastError());
    }
}

void ReadSession::onPortOpened() {
    if (portAway_) {
        portAway_ = false;
        const auto outage = std::chrono::duration<double>(SteadyClock::now() - lostSince_).count();
        std::cerr << "darq-read: " << port_.deviceName().toStdString() << ": back after "
                  << oneDecimal(outage) << " s" << std::endl;
    }
    if (!cycling_) {
        cycling_ = true;
        startCycle();
    }
}

void ReadSession::onOpenFailed(const PortError& error) {
    if (done_) {
        return;
    }
    if (!cycling_ && !options_.reconnect) {
        std::cerr << "darq-read: " << error.message().toStdString() << std::endl;
        done_ = true;
        emit finished(kExitPortUnusable);
        return;
    }
    if (portAway_) {
        lostBecause_ = error.message();
        reopenPauseMs_ = std::min(2 * reopenPauseMs_, kLongestReopenPauseMs);
        reopenTimer_.start(reopenPauseMs_);
    } else {
        portGone(error.message());
    }
    if (!cycling_) {
        cycling_ = true;
        startCycle();
    }
}

void ReadSession::stop() {
    if (!done_) {
        // A gateway stopped on purpose has done its job, whatever the line did meanwhile.
        end(options_.reconnect ? kExitSuccess : summary_.exitStatus());
    }
}

void ReadSession::startCycle() {
    if (cycles_ == 0) {
        // Ready as soon as records flow, port-lost ones included: a gateway whose adapter is
        // away at boot is doing its job, telling the gap.
        service_.ready();
        if (service_.alivePeriod()) {
            aliveTimer_.start();
        }
    }
    cycleStart_ = SteadyClock::now();
    addressIndex_ = 0;
    readNext();
}

void ReadSession::readNext() {
    if (portAway_) {
        take(lostRecord());
        return;
    }
    ExchangeOrder order;
    order.address = options_.addresses[addressIndex_];
    order.wait = ReplyWait::CompleteReply;
    if (options_.timeoutMs) {
        order.timeout = std::chrono::milliseconds(*options_.timeoutMs);
    }
    if (engine_.submit(this, order) != ReadStart::Accepted &&
        portGone(port_.lastError().message())) {
        take(lostRecord());
    }
}

void ReadSession::onExchangeFinished(const ReadingRecord& record, const QObject* requester) {
    if (requester != this || done_) {
        return;
    }
    if (record.status != ReadingRecord::Status::Completed) {
        if (portGone(QString::fromStdString(record.problem))) {
            take(lostRecord());
        }
        return;
    }
    trace(record.time, ">", record.request);
    trace(std::chrono::system_clock::now(), "<", record.outcome.received);
    take(record);
}

void ReadSession::take(ReadingRecord record) {
    totals_.check(record);
    if (record.totalBackFrom) {
        std::cerr << "darq-read: address " << *record.address << ": "
                  << render(totalBackWords(*record.totalBackFrom, record.outcome.totalText))
                  << std::endl;
    }
    summary_.add(record);
    summaries_[addressIndex_].second.add(record);
    if (done_) {
        return;
    }
    service_.alive();
    if (gateway_ != nullptr) {
        gateway_->publish(options_.addresses[addressIndex_],
                          formatReading(OutputFormat::Json, record));
    }
    if (!options_.quiet &&
        !print(formatReading(options_.format, record, options_.addresses.size() > 1))) {
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

bool ReadSession::portGone(const QString& message) {
    if (!options_.reconnect) {
        endWithPortError(message);
        return false;
    }
    if (!portAway_ && !done_) {
        portAway_ = true;
        lostBecause_ = message;
        lostSince_ = SteadyClock::now();
        // One line for the outage, however long it lasts; the records tell each cycle.
        std::cerr << "darq-read: " << message.toStdString() << "; reopening it until it is back"
                  << std::endl;
        port_.close();
        reopenPauseMs_ = kFirstReopenPauseMs;
        reopenTimer_.start(reopenPauseMs_);
    }
    return true;
}

ReadingRecord ReadSession::lostRecord() const {
    ReadingRecord record;
    record.time = std::chrono::system_clock::now();
    record.device = port_.deviceName().toStdString();
    record.address = options_.addresses[addressIndex_];
    record.baudRate = options_.baudRates.front();
    record.status = ReadingRecord::Status::PortLost;
    record.problem = lostBecause_.toStdString();
    return record;
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
    reopenTimer_.stop();
    aliveTimer_.stop();
    // Closed before anything else, so that the device's lock file goes whatever follows.
    port_.close();
    service_.stopping();
    if (gateway_ != nullptr) {
        // The broker gets a moment to acknowledge what waits; the rest stays in the spool.
        gateway_->stop();
        if (const std::uint64_t dropped = gateway_->droppedCount(); dropped > 0) {
            std::cerr << "summary: " << dropped
                      << " records dropped by the gateway: the spool was full or could not be "
                         "written"
                      << std::endl;
        }
    }
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
