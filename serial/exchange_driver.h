#pragma once

#include "protocol/reply.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

namespace darq {

class CommControl;

// How one read exchange ended.
struct ExchangeReport {
    enum class Status {
        Completed,  // the settle time passed and the input was taken and decoded
        PortClosed, // the port was closed or switched while the exchange waited; nothing taken
    };

    Status status = Status::Completed;
    int address = 0;
    QString device;
    int baudRate = 0;
    Bytes request;        // the bytes sent
    ReadOutcome outcome;  // meaningful when completed
    QDateTime sentAt;     // local time the request went out, ms precision
    qint64 elapsedMs = 0; // from the send to the end of the exchange
    // The wait ended with bytes still coming: the last came less than a reply gap before it.
    bool endedWhileArriving = false;
};

// Whether a read could start.
enum class ReadStart {
    Started,
    Busy,              // an exchange is already waiting on this port; nothing was sent
    PortClosed,        // nothing is sent on a closed port
    AddressOutOfRange, // only addresses 0 to 128 exist on the bus
    SendFailed,        // the port is open but did not take the request; its lastError says why
};

// Runs read exchanges on a CommControl without ever blocking the thread: discard the receive
// buffer, send the request, then wait the settle time of the port's current rate, or with
// startReadEndingEarly until a complete reply is in; then the input is taken and decoded. One
// exchange at a time.
class ExchangeDriver : public QObject {
    Q_OBJECT

public:
    explicit ExchangeDriver(CommControl& port, QObject* parent = nullptr);

    // The window's read: the input is taken when the settle time has passed.
    ReadStart startRead(int address);
    // A read that ends as soon as a complete reply is in (17 bytes or more, then the line quiet
    // for the reply gap), and at the latest after `budgetMs`: a search through many addresses
    // must not wait out a fixed time where the instrument has long answered.
    ReadStart startReadEndingEarly(int address, int budgetMs);
    bool isBusy() const;
    // The settle time for the port's current rate, in milliseconds.
    int settleTimeMs() const;

signals:
    // Emitted once for each exchange that started.
    void finished(const darq::ExchangeReport& report);

private:
    ReadStart start(int address, int waitMs, bool endWhenComplete);
    void onBytesArrived();
    int replyGapMs() const;
    void onSettled();
    void onPortOpenChanged(bool open);

    CommControl& port_;
    QTimer settleTimer_; // the longest wait
    QTimer quietTimer_;  // the gap that ends a complete reply early
    QElapsedTimer sinceSend_;
    QDateTime sentAt_;
    qint64 lastByteMs_ = -1; // since the send; -1 while nothing has come
    int address_ = 0;
    QString device_; // the device the request went to
    int baudRate_ = 0;
    Bytes request_;
    bool endWhenComplete_ = false;
    bool busy_ = false;
    bool sending_ = false; // a port that dies while sending is answered by startRead itself
};

} // namespace darq

Q_DECLARE_METATYPE(darq::ExchangeReport)
