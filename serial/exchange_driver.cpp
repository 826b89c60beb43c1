#include "serial/exchange_driver.h"

#include "protocol/line_timing.h"
#include "protocol/read_exchange.h"
#include "protocol/read_request.h"
#include "serial/comm_control.h"

namespace darq {

ExchangeDriver::ExchangeDriver(CommControl& port, QObject* parent) : QObject(parent), port_(port) {
    qRegisterMetaType<darq::ExchangeReport>();
    settleTimer_.setSingleShot(true);
    // A coarse timer may fire 5 % late; the settle time is already the margin it needs.
    settleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&settleTimer_, &QTimer::timeout, this, &ExchangeDriver::onSettled);
    connect(&port_, &CommControl::portOpenChanged, this, &ExchangeDriver::onPortOpenChanged);
}

ReadStart ExchangeDriver::startRead(int address) {
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
    sending_ = true;
    const ExchangeStatus sent = sendReadRequest(port_, address);
    sending_ = false;
    if (!port_.PortOpen()) {
        // The port died while the request went out; its loss ended this exchange before it began.
        busy_ = false;
        return ReadStart::PortClosed;
    }
    if (sent != ExchangeStatus::Completed) {
        // Nothing left: waiting out the settle time would only show "no data" for a request the
        // instrument never heard.
        busy_ = false;
        return ReadStart::SendFailed;
    }
    sinceSend_.start();
    settleTimer_.start(settleTimeMs());
    return ReadStart::Started;
}

bool ExchangeDriver::isBusy() const {
    return busy_;
}

int ExchangeDriver::settleTimeMs() const {
    return darq::settleTimeMs(port_.baudRate());
}

void ExchangeDriver::onSettled() {
    if (!busy_) {
        return;
    }
    ExchangeReport report;
    report.status = ExchangeReport::Status::Completed;
    report.address = address_;
    report.device = device_;
    report.outcome = takeReadReply(port_);
    report.elapsedMs = sinceSend_.elapsed();
    // Free before telling anyone, so that a listener may start the next read at once.
    busy_ = false;
    emit finished(report);
}

void ExchangeDriver::onPortOpenChanged(bool open) {
    if (open || !busy_ || sending_) {
        return;
    }
    settleTimer_.stop();
    ExchangeReport report;
    report.status = ExchangeReport::Status::PortClosed;
    report.address = address_;
    report.device = device_;
    report.elapsedMs = sinceSend_.isValid() ? sinceSend_.elapsed() : 0;
    busy_ = false;
    emit finished(report);
}

} // namespace darq
