#include "serial/exchange_engine.h"

#include "protocol/line_timing.h"
#include "protocol/read_request.h"
#include "serial/comm_control.h"
#include "serial/line_settings.h"

#include <algorithm>

namespace darq {

namespace {

using SteadyClock = ReplyCollector::Clock;

Bytes toBytes(const QByteArray& data) {
    return Bytes(data.begin(), data.end());
}

} // namespace

ExchangeEngine::ExchangeEngine(CommControl& port, QObject* parent) : QObject(parent), port_(port) {
    qRegisterMetaType<darq::ReadingRecord>();
    dispatchTimer_.setSingleShot(true);
    dispatchTimer_.setInterval(0);
    connect(&dispatchTimer_, &QTimer::timeout, this, &ExchangeEngine::startNext);
    // A coarse timer may fire 5 % late: at 1200 Bd that is 14 ms of a settle time.
    replyTimer_.setSingleShot(true);
    replyTimer_.setTimerType(Qt::PreciseTimer);
    connect(&replyTimer_, &QTimer::timeout, this, &ExchangeEngine::onReplyCheck);
    connect(&port_, &CommControl::bytesArrived, this, &ExchangeEngine::onBytesArrived);
    connect(&port_, &CommControl::bytesDropped, this, &ExchangeEngine::onBytesDropped);
    connect(&port_, &CommControl::portOpenChanged, this, &ExchangeEngine::onPortOpenChanged);
}

ReadStart ExchangeEngine::submit(const QObject* requester, const ExchangeOrder& order) {
    if (!isValidAddress(order.address)) {
        return ReadStart::AddressOutOfRange;
    }
    if (!port_.PortOpen()) {
        return ReadStart::PortClosed;
    }
    dropWaiting(requester);
    waiting_.push_back({requester, order});
    scheduleNext();
    return ReadStart::Accepted;
}

void ExchangeEngine::reserve(const QObject* requester) {
    reservedFor_ = requester;
}

void ExchangeEngine::release(const QObject* requester) {
    if (reservedFor_ == requester) {
        reservedFor_ = nullptr;
        scheduleNext();
    }
}

void ExchangeEngine::cancel(const QObject* requester) {
    dropWaiting(requester);
    if (current_ && current_->requester == requester) {
        // Whatever of the reply is still on its way is dropped as it comes.
        port_.Input();
        interrupt(PortWords::tr("cancelled"));
    }
}

void ExchangeEngine::dropWaiting(const QObject* requester) {
    waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                  [requester](const Pending& p) { return p.requester == requester; }),
                   waiting_.end());
}

int ExchangeEngine::networkAllowanceMs() const {
    return port_.networkAllowanceMs();
}

void ExchangeEngine::scheduleNext() {
    if (!current_ && !waiting_.empty()) {
        dispatchTimer_.start();
    }
}

void ExchangeEngine::startNext() {
    const auto next = std::find_if(waiting_.begin(), waiting_.end(), [this](const Pending& p) {
        return reservedFor_ == nullptr || p.requester == reservedFor_;
    });
    if (current_ || next == waiting_.end()) {
        return;
    }
    const Pending pending = *next;
    waiting_.erase(next);
    start(pending);
}

void ExchangeEngine::start(const Pending& pending) {
    const ExchangeOrder& order = pending.order;
    ReadingRecord record;
    record.time = std::chrono::system_clock::now();
    record.device = port_.deviceName().toStdString();
    record.address = order.address;
    record.baudRate = order.baudRate.value_or(port_.baudRate());
    record.status = ReadingRecord::Status::NotSent;
    if (!port_.PortOpen()) {
        record.problem = port_.lastError().isError()
                             ? port_.lastError().message().toStdString()
                             : PortWords::tr("port not open").toStdString();
        report(record, pending.requester);
        return;
    }
    if (record.baudRate != port_.baudRate()) {
        LineSettings settings;
        settings.baudRate = record.baudRate;
        if (!port_.setSettings(QString::fromStdString(formatLineSettings(settings)))) {
            record.problem = port_.lastError().message().toStdString();
            report(record, pending.requester);
            return;
        }
    }
    const ReadRequest request = *buildReadRequest(order.address);
    port_.setInBufferCount(0);
    if (!port_.send(Bytes(request.begin(), request.end()))) {
        // A port that died while sending is closed by now and reported as lost.
        record.status = port_.PortOpen() ? ReadingRecord::Status::NotSent
                                         : ReadingRecord::Status::Interrupted;
        record.problem = port_.lastError().message().toStdString();
        report(record, pending.requester);
        return;
    }
    record.status = ReadingRecord::Status::Completed;
    record.request.assign(request.begin(), request.end());
    const std::chrono::milliseconds timeout = order.timeout.value_or(
        std::chrono::milliseconds(settleTimeMs(record.baudRate) + networkAllowanceMs()));
    current_.emplace(Exchange{pending.requester, record,
                              ReplyCollector(order.wait, replyGap(record.baudRate), timeout)});
    current_->collector.start(SteadyClock::now());
    scheduleReplyCheck();
}

void ExchangeEngine::onBytesArrived() {
    if (current_) {
        current_->collector.add(toBytes(port_.takeArrived()), SteadyClock::now());
        scheduleReplyCheck();
    }
}

void ExchangeEngine::onBytesDropped(const QByteArray& bytes) {
    std::optional<qint64> msLate;
    if (shortReplyDeadline_) {
        msLate = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() -
                                                                       *shortReplyDeadline_)
                     .count();
    }
    emit lateBytes(toBytes(bytes), msLate);
}

void ExchangeEngine::scheduleReplyCheck() {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        current_->collector.completionTime() - SteadyClock::now());
    replyTimer_.start(int(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
}

void ExchangeEngine::onReplyCheck() {
    const SteadyClock::time_point now = SteadyClock::now();
    if (!current_) {
        return;
    }
    if (!current_->collector.isComplete(now)) {
        scheduleReplyCheck();
        return;
    }
    ReplyCollector& collector = current_->collector;
    collector.add(toBytes(port_.Input()), now);
    ReadingRecord record = current_->record;
    record.outcome = judgeReply(record.request, collector.received(), collector.endedWhileArriving());
    if (const auto latency = collector.latency()) {
        record.latencyMs = std::chrono::duration<double, std::milli>(*latency).count();
    }
    shortReplyDeadline_.reset();
    if (collector.received().size() < kReplyLength) {
        shortReplyDeadline_ = now;
    }
    const QObject* requester = current_->requester;
    current_.reset();
    report(record, requester);
}

void ExchangeEngine::onPortOpenChanged(bool open) {
    if (open) {
        return;
    }
    if (current_) {
        interrupt(port_.lastError().isError()
                      ? port_.lastError().message()
                      : PortWords::tr("the port closed while the reply was awaited"));
    }
    // Reads still waiting find the line gone.
    while (!waiting_.empty()) {
        const Pending pending = waiting_.front();
        waiting_.pop_front();
        start(pending);
    }
}

void ExchangeEngine::interrupt(const QString& why) {
    replyTimer_.stop();
    ReadingRecord record = current_->record;
    record.status = ReadingRecord::Status::Interrupted;
    record.problem = why.toStdString();
    const QObject* requester = current_->requester;
    current_.reset();
    report(record, requester);
}

void ExchangeEngine::report(const ReadingRecord& record, const QObject* requester) {
    // Free before telling anyone, so that a listener may submit its next read at once.
    scheduleNext();
    emit finished(record, requester);
}

} // namespace darq
