#include "read/read_session.h"

#include "protocol/line_timing.h"
#include "protocol/read_request.h"
#include "read/reading_output.h"
#include "serial/port_error.h"
#include "serial/port_opening.h"

#include <QByteArray>

#include <iostream>

namespace darq {

namespace {

using SteadyClock = std::chrono::steady_clock;

// However slow the line, eight bytes leave within their wire time; a device that has not taken
// them a second after that never will (a stalled adapter, flow control stuck off).
constexpr std::chrono::milliseconds kSendAllowance{1000};

int timerMilliseconds(SteadyClock::duration wait) {
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return rounded > 0 ? static_cast<int>(rounded) : 0;
}

Bytes requestFor(int address) {
    const std::optional<ReadRequest> request = buildReadRequest(address);
    return request ? Bytes(request->begin(), request->end()) : Bytes{};
}

LineSettings settingsForRate(int baudRate) {
    LineSettings settings; // no parity, 8 data bits, 2 stop bits: the instrument's line
    settings.baudRate = baudRate;
    return settings;
}

Bytes toBytes(const QByteArray& data) {
    return Bytes(data.begin(), data.end());
}

} // namespace

ReadSession::ReadSession(const ReadOptions& options, const QString& device, QObject* parent)
    : QObject(parent), options_(options), device_(device), baudRate_(options.baudRates.front()),
      lineSettings_(settingsForRate(baudRate_)),
      timeout_(options.timeoutMs.value_or(settleTimeMs(baudRate_))),
      collector_(replyGap(baudRate_), timeout_) {
    for (const int address : options_.addresses) {
        summaries_.push_back({address, ReadSummary()});
    }
    completionTimer_.setSingleShot(true);
    completionTimer_.setTimerType(Qt::PreciseTimer);
    nextReadTimer_.setSingleShot(true);
    nextReadTimer_.setTimerType(Qt::PreciseTimer);
    connect(&completionTimer_, &QTimer::timeout, this, &ReadSession::onCompletionCheck);
    connect(&nextReadTimer_, &QTimer::timeout, this, &ReadSession::startCycle);
}

void ReadSession::start() {
    if (state_ == State::Done) {
        return; // interrupted before the port was opened
    }
    const PortError error = openSerialDevice(port_, device_, lineSettings_);
    if (error.isError()) {
        std::cerr << "darq-read: " << error.message().toStdString() << std::endl;
        state_ = State::Done;
        emit finished(kExitPortUnusable);
        return;
    }
    connect(&port_, &QSerialPort::bytesWritten, this, &ReadSession::onBytesWritten);
    connect(&port_, &QSerialPort::readyRead, this, &ReadSession::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &ReadSession::onPortError);
    if (options_.format == OutputFormat::Csv) {
        std::cout << csvHeader() << std::flush;
        if (endIfOutputLost()) {
            return;
        }
    }
    startCycle();
}

void ReadSession::stop() {
    if (state_ != State::Done) {
        end(summary_.exitStatus());
    }
}

void ReadSession::startCycle() {
    cycleStart_ = SteadyClock::now();
    addressIndex_ = 0;
    startRead();
}

void ReadSession::startRead() {
    state_ = State::Sending;
    request_ = requestFor(options_.addresses[addressIndex_]);
    readStart_ = SteadyClock::now();
    readTime_ = std::chrono::system_clock::now();
    // Whatever is waiting is left over from an earlier reply that came too late.
    port_.clear(QSerialPort::Input);
    port_.readAll();
    trace(">", request_);
    if (endIfOutputLost()) {
        return;
    }
    port_.write(reinterpret_cast<const char*>(request_.data()),
                static_cast<qint64>(request_.size()));
    port_.flush();
    if (state_ != State::Sending) {
        return; // the write failed and the port error ends the run
    }
    if (port_.bytesToWrite() == 0) {
        markSent();
        return;
    }
    completionTimer_.start(timerMilliseconds(
        std::chrono::ceil<std::chrono::milliseconds>(
            std::chrono::duration<double, std::milli>(wireTimeMs(request_.size(), baudRate_))) +
        kSendAllowance));
}

void ReadSession::onBytesWritten() {
    if (state_ == State::Sending && port_.bytesToWrite() == 0) {
        markSent();
    }
}

void ReadSession::markSent() {
    state_ = State::Collecting;
    collector_.start(SteadyClock::now());
    onReadyRead();
    scheduleCompletionCheck();
}

void ReadSession::onReadyRead() {
    if (state_ == State::Idle) {
        dropLateBytes();
        return;
    }
    if (state_ != State::Collecting) {
        return;
    }
    const QByteArray data = port_.readAll();
    if (data.isEmpty()) {
        return;
    }
    collector_.add(toBytes(data), SteadyClock::now());
    scheduleCompletionCheck();
}

void ReadSession::dropLateBytes() {
    // Between reads nobody takes what arrives, and on a busy bus it would pile up without limit.
    const QByteArray late = port_.readAll();
    if (late.isEmpty()) {
        return;
    }
    trace("~", toBytes(late));
    // Bytes after a read that timed out with its reply incomplete are most likely that reply,
    // late: left alone they would be taken for the answer to the next request.
    if (!toldLateReply_ && collector_.received().size() < kReplyLength) {
        toldLateReply_ = true;
        const auto lateBy = std::chrono::duration_cast<std::chrono::milliseconds>(
            SteadyClock::now() - collector_.sendEnd() - timeout_);
        std::cerr << "darq-read: a reply came " << lateBy.count()
                  << " ms late: raise --timeout (it is " << timeout_.count() << " ms)" << std::endl;
        endIfOutputLost();
    }
}

void ReadSession::scheduleCompletionCheck() {
    completionTimer_.start(timerMilliseconds(collector_.completionTime() - SteadyClock::now()));
}

void ReadSession::onCompletionCheck() {
    if (state_ == State::Sending) {
        endWithPortError(PortError::Kind::Other,
                         QStringLiteral("cannot send the request: the device took no byte of it "
                                        "for %1 ms")
                             .arg(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      SteadyClock::now() - readStart_)
                                      .count()));
        return;
    }
    if (state_ != State::Collecting) {
        return;
    }
    if (collector_.isComplete(SteadyClock::now())) {
        finishRead();
    } else {
        scheduleCompletionCheck();
    }
}

void ReadSession::finishRead() {
    state_ = State::Idle;
    ReadingRecord record;
    record.time = readTime_;
    record.address = options_.addresses[addressIndex_];
    record.baudRate = baudRate_;
    record.namesInstrument = options_.addresses.size() > 1;
    record.request = request_;
    record.outcome = decodeAnswer(request_, collector_.received());
    if (const auto latency = collector_.latency()) {
        record.latencyMs = std::chrono::duration<double, std::milli>(*latency).count();
    }
    record.endedWhileArriving = collector_.endedWhileArriving();
    trace("<", collector_.received());
    std::cout << formatReading(options_.format, record) << std::flush;
    summary_.add(record);
    summaries_[addressIndex_].second.add(record);
    if (endIfOutputLost()) {
        return;
    }

    // The next instrument on the bus at once; the next cycle on time.
    if (++addressIndex_ < options_.addresses.size()) {
        startRead();
        return;
    }
    ++cycles_;
    if (options_.count != 0 && cycles_ >= options_.count) {
        end(summary_.exitStatus());
        return;
    }
    const auto nextStart = cycleStart_ + std::chrono::milliseconds(options_.intervalMs);
    nextReadTimer_.start(timerMilliseconds(nextStart - SteadyClock::now()));
}

void ReadSession::onPortError(QSerialPort::SerialPortError error) {
    if (state_ == State::Done) {
        return;
    }
    if (const std::optional<PortError> lost = lostPortError(port_, error, device_)) {
        endWithPortError(PortError::Kind::Lost, lost->reason);
    } else if (error == QSerialPort::WriteError || error == QSerialPort::ResourceError) {
        endWithPortError(PortError::Kind::Other,
                         QStringLiteral("cannot send the request: ") + port_.errorString());
    } else if (error == QSerialPort::UnknownError) {
        endWithPortError(PortError::Kind::Other, port_.errorString());
    }
    // A timeout or a refused modem line leaves the line usable.
}

void ReadSession::endWithPortError(PortError::Kind kind, const QString& reason) {
    // Closing the port from inside its own error report is not safe; end from the event loop.
    state_ = State::Done;
    completionTimer_.stop();
    nextReadTimer_.stop();
    const PortError failure{kind, device_, reason};
    QMetaObject::invokeMethod(
        this,
        [this, failure] {
            std::cerr << "darq-read: " << failure.message().toStdString() << std::endl;
            end(kExitPortUnusable);
        },
        Qt::QueuedConnection);
}

bool ReadSession::endIfOutputLost() {
    // SIGPIPE still ends the run as usual when a pipe's reader goes away.
    if (!reportLostOutput()) {
        return false;
    }
    end(kExitOutputLost);
    return true;
}

void ReadSession::end(int exitStatus) {
    state_ = State::Done;
    completionTimer_.stop();
    nextReadTimer_.stop();
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

void ReadSession::trace(const char* direction, const Bytes& frame) const {
    if (!options_.trace) {
        return;
    }
    std::cerr << traceLine(direction, frame) << std::flush;
}

} // namespace darq
