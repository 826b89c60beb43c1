#include "serial/exchange_driver.h"

#include "protocol/line_timing.h"
#include "protocol/read_exchange.h"
#include "protocol/read_request.h"
#include "protocol/reply_completion.h"
#include "serial/comm_control.h"

#include <chrono>

namespace darq {

ExchangeDriver::ExchangeDriver(CommControl& port, QObject* parent) : QObject(parent), port_(port) {
    qRegisterMetaType<darq::ExchangeReport>();
    // A coarse timer may fire 5 % late; the settle time is already the margin it needs.
    for (QTimer* timer : {&settleTimer_, &quietTimer_}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, &ExchangeDriver::onSettled);
    }
    connect(&port_, &CommControl::portOpenChanged, this, &ExchangeDriver::onPortOpenChanged);
    connect(&port_, &CommControl::bytesArrived, this, &ExchangeDriver::onBytesArrived);
}

ReadStart ExchangeDriver::startRead(int address) {
    return start(address, settleTimeMs(), false);
}

ReadStart ExchangeDriver::startReadEndingEarly(int address, int budgetMs) {
    return start(address, budgetMs, true);
}

ReadStart ExchangeDriver::start(int address, int waitMs, bool endWhenComplete) {
    if (busy_) {
        return ReadStart::Busy;
    }
    if (!isValidAddress(address)) {
        return ReadStart::AddressOutOfRange;
    }
    if (!port_.PortOpen()) {
        return ReadStart::PortClosed;
    }
    busy_ = true;
    address_ = address;
    device_ = port_.deviceName();
    baudRate_ = port_.baudRate();
    endWhenComplete_ = endWhenComplete;
    sending_ = true;
    const ExchangeResult sent = sendReadRequest(port_, address);
    sending_ = false;
    if (!port_.PortOpen()) {
        // The port died while the request went out; its loss ended this exchange before it began.
        busy_ = false;
        return ReadStart::PortClosed;
    }
    if (sent.status != ExchangeStatus::Completed) {
        // Nothing left: waiting out the settle time would only show "no data" for a request the
        // instrument never heard.
        busy_ = false;
        return ReadStart::SendFailed;
    }
    request_ = sent.request;
    lastByteMs_ = -1;
    sinceSend_.start();
    sentAt_ = QDateTime::currentDateTime();
    settleTimer_.start(waitMs);
    return ReadStart::Started;
}

bool ExchangeDriver::isBusy() const {
    return busy_;
}

int ExchangeDriver::settleTimeMs() const {
    return darq::settleTimeMs(port_.baudRate());
}

int ExchangeDriver::replyGapMs() const {
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(replyGap(baudRate_)).count());
}

void ExchangeDriver::onBytesArrived() {
    if (!busy_) {
        return;
    }
    lastByteMs_ = sinceSend_.elapsed();
    if (!endWhenComplete_ || port_.InBufferCount() < int(kReplyLength)) {
        return;
    }
    // Complete once the line has been quiet for the gap after 17 bytes or more: every new byte
    // starts the gap again.
    quietTimer_.start(replyGapMs());
}

void ExchangeDriver::onSettled() {
    if (!busy_) {
        return;
    }
    settleTimer_.stop();
    quietTimer_.stop();
    ExchangeReport report;
    report.status = ExchangeReport::Status::Completed;
    report.address = address_;
    report.device = device_;
    report.baudRate = baudRate_;
    report.request = request_;
    report.sentAt = sentAt_;
    report.outcome = takeReadReply(port_, request_);
    report.elapsedMs = sinceSend_.elapsed();
    report.endedWhileArriving = lastByteMs_ >= 0 && report.elapsedMs - lastByteMs_ < replyGapMs();
    // Free before telling anyone, so that a listener may start the next read at once.
    busy_ = false;
    emit finished(report);
}

void ExchangeDriver::onPortOpenChanged(bool open) {
    if (open || !busy_ || sending_) {
        return;
    }
    settleTimer_.stop();
    quietTimer_.stop();
    ExchangeReport report;
    report.status = ExchangeReport::Status::PortClosed;
    report.address = address_;
    report.device = device_;
    report.baudRate = baudRate_;
    report.request = request_;
    report.sentAt = sentAt_;
    report.elapsedMs = sinceSend_.isValid() ? sinceSend_.elapsed() : 0;
    busy_ = false;
    emit finished(report);
}

} // namespace darq
