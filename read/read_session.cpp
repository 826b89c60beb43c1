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
    : QObject(parent), options_(options), device_(device),
      lineSettings_(settingsForRate(options.baudRate)), request_(requestFor(options.address)),
      collector_(replyGap(options.baudRate), std::chrono::milliseconds(options.timeoutMs.value_or(
                                                 settleTimeMs(options.baudRate)))) {
    completionTimer_.setSingleShot(true);
    completionTimer_.setTimerType(Qt::PreciseTimer);
    nextReadTimer_.setSingleShot(true);
    nextReadTimer_.setTimerType(Qt::PreciseTimer);
    connect(&completionTimer_, &QTimer::timeout, this, &ReadSession::onCompletionCheck);
    connect(&nextReadTimer_, &QTimer::timeout, this, &ReadSession::startRead);
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
    }
    startRead();
}

void ReadSession::stop() {
    if (state_ != State::Done) {
        end(summary_.exitStatus());
    }
}

void ReadSession::startRead() {
    state_ = State::Sending;
    readStart_ = SteadyClock::now();
    readTime_ = std::chrono::system_clock::now();
    // Whatever is waiting is left over from an earlier reply that came too late.
    port_.clear(QSerialPort::Input);
    port_.readAll();
    trace(">", request_);
    port_.write(reinterpret_cast<const char*>(request_.data()),
                static_cast<qint64>(request_.size()));
    port_.flush();
    if (state_ == State::Sending && port_.bytesToWrite() == 0) {
        markSent();
    }
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

void ReadSession::scheduleCompletionCheck() {
    completionTimer_.start(timerMilliseconds(collector_.completionTime() - SteadyClock::now()));
}

void ReadSession::onCompletionCheck() {
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
    record.address = options_.address;
    record.request = request_;
    record.outcome = decodeReply(collector_.received());
    if (const auto latency = collector_.latency()) {
        record.latencyMs = std::chrono::duration<double, std::milli>(*latency).count();
    }
    trace("<", collector_.received());
    std::cout << formatReading(options_.format, record) << std::flush;
    summary_.add(record);

    if (options_.count != 0 && summary_.reads() >= options_.count) {
        end(summary_.exitStatus());
        return;
    }
    const auto nextStart = readStart_ + std::chrono::milliseconds(options_.intervalMs);
    nextReadTimer_.start(timerMilliseconds(nextStart - SteadyClock::now()));
}

void ReadSession::onPortError(QSerialPort::SerialPortError error) {
    if (state_ == State::Done) {
        return;
    }
    QString reason;
    if (const std::optional<PortError> lost = lostPortError(port_, error, device_)) {
        reason = lost->reason;
    } else if (error == QSerialPort::WriteError) {
        reason = QStringLiteral("the request could not be sent: ") + port_.errorString();
    } else if (error == QSerialPort::UnknownError) {
        reason = port_.errorString();
    } else {
        // A timeout or a refused modem line leaves the line usable.
        return;
    }
    // Closing the port from inside its own error report is not safe; end from the event loop.
    state_ = State::Done;
    completionTimer_.stop();
    nextReadTimer_.stop();
    QMetaObject::invokeMethod(
        this, [this, reason] { endWithPortLost(reason); }, Qt::QueuedConnection);
}

void ReadSession::endWithPortLost(const QString& reason) {
    PortError lost;
    lost.kind = PortError::Kind::Lost;
    lost.device = device_;
    lost.reason = reason;
    std::cerr << "darq-read: " << lost.message().toStdString() << std::endl;
    end(kExitPortUnusable);
}

void ReadSession::end(int exitStatus) {
    state_ = State::Done;
    completionTimer_.stop();
    nextReadTimer_.stop();
    port_.close();
    if (options_.count != 1) {
        std::cerr << "summary: " << summary_.line() << std::endl;
    }
    emit finished(exitStatus);
}

void ReadSession::trace(const char* direction, const Bytes& frame) const {
    if (!options_.trace) {
        return;
    }
    std::cerr << isoUtcTime(std::chrono::system_clock::now()) << ' ' << direction << ' '
              << (frame.empty() ? std::string("(nothing)") : hexText(frame)) << std::endl;
}

} // namespace darq
