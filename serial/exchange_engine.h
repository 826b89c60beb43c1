#pragma once

#include "protocol/reading_record.h"
#include "protocol/reply_completion.h"

#include <QMetaType>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <optional>

namespace darq {

class CommControl;

// One read to run on the line.
struct ExchangeOrder {
    int address = 0;
    std::optional<int> baudRate; // the line's rate for this read; none: the port's rate as it is
    ReplyWait wait = ReplyWait::SettleTime;
    // The longest wait for the reply after the request left; none: the settle time of the rate,
    // and over a network its allowance.
    std::optional<std::chrono::milliseconds> timeout;
};

// Whether a read was taken.
enum class ReadStart {
    Accepted,          // it goes out as soon as the line is free
    PortClosed,        // nothing is sent on a closed port
    AddressOutOfRange, // only addresses 0 to 128 exist on the bus
};

// Every read exchange on one port goes through here, one at a time: it empties the receive
// buffer, sends the request, collects the reply by the order's ReplyWait and judges it into one
// record. It never blocks the thread: the wait is a timer and the bytes come as signals. Reads
// of several requesters (the window's reads, its instrument search) queue on it; a requester that
// reserves the line (a search) has it to itself until it releases it, while the others' reads
// wait. Bytes that arrive between exchanges are dropped and reported.
class ExchangeEngine : public QObject {
    Q_OBJECT

public:
    explicit ExchangeEngine(CommControl& port, QObject* parent = nullptr);

    // Takes a read for `requester`. A requester has one read waiting at most: a newer one
    // replaces it, since it asks for what is wanted now.
    ReadStart submit(const QObject* requester, const ExchangeOrder& order);
    void reserve(const QObject* requester);
    void release(const QObject* requester);
    // Ends the requester's exchange under way at once, reported as interrupted, and drops its
    // waiting read.
    void cancel(const QObject* requester);
    // Drops the requester's waiting read, if it has one; an exchange under way goes on.
    void dropWaiting(const QObject* requester);
    // What every reply's wait adds on this port for the network's round trip (0 on a serial line).
    int networkAllowanceMs() const;

signals:
    // Once for every read taken: its record, and who asked for it.
    void finished(const darq::ReadingRecord& record, const QObject* requester);
    // Bytes that came while no reply was awaited. When the read before them ended without a whole
    // reply, they are most likely that reply, late by `msLate` after its wait ended.
    void lateBytes(const darq::Bytes& bytes, std::optional<qint64> msLate);

private:
    struct Pending {
        const QObject* requester = nullptr;
        ExchangeOrder order;
    };
    struct Exchange {
        const QObject* requester = nullptr;
        ReadingRecord record;
        ReplyCollector collector;
    };

    void scheduleNext();
    void startNext();
    void start(const Pending& pending);
    void onBytesArrived();
    void onBytesDropped(const QByteArray& bytes);
    void scheduleReplyCheck();
    void onReplyCheck();
    void onPortOpenChanged(bool open);
    void interrupt(const QString& why);
    void report(const ReadingRecord& record, const QObject* requester);

    CommControl& port_;
    std::deque<Pending> waiting_;
    std::optional<Exchange> current_;
    const QObject* reservedFor_ = nullptr;
    QTimer dispatchTimer_; // starts the next read from the event loop, after the last one's report
    QTimer replyTimer_;
    // The end of the last read's wait, when it ended without a whole reply.
    std::optional<ReplyCollector::Clock::time_point> shortReplyDeadline_;
};

} // namespace darq

Q_DECLARE_METATYPE(darq::ReadingRecord)
