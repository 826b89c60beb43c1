#pragma once

#include "protocol/bytes.h"
#include "serial/exchange_driver.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QDateTime>
#include <QFont>
#include <QString>

#include <deque>
#include <optional>

namespace darq {

// One exchange the window ran, or a read it refused.
struct TrafficLogEntry {
    QDateTime time; // local time the request went out (or was refused), ms precision
    QString device; // e.g. /dev/ttyUSB0
    int baudRate = 0;
    std::optional<int> address; // none when no address was selected
    Bytes sent;                 // empty: nothing was sent (the read was refused)
    Bytes received;             // every byte that came, echo included
    // Interrupted: the port closed during the wait.
    enum class Outcome { Decoded, NoData, Ignored, NotSent, Interrupted };
    Outcome outcome = Outcome::NotSent;
    QString flowText, totalText;      // set when decoded
    std::optional<bool> checkValueOk; // set when decoded
    bool echoRemoved = false;
    std::optional<int> exceptionCode; // a Modbus exception answer's code
    std::optional<bool> headerOk;     // set when decoded: address, function and byte count as asked
    std::optional<qint64> elapsedMs;  // from the end of the send to the outcome
    QString explanation; // plain words for anything not cleanly decoded; for NotSent, why
};

// What the session's reads came to, counted since the log was last cleared, also for rows the
// log no longer holds.
struct TrafficLogCounters {
    qint64 reads = 0; // requests sent, whatever became of them
    qint64 decoded = 0;
    qint64 noData = 0;
    qint64 ignored = 0;
    qint64 wrongCheckValue = 0; // decoded, but the check value did not match
    qint64 interrupted = 0;
    qint64 refused = 0; // reads that sent nothing
};

// The most recent exchanges, one row each, for a table beside the window. The oldest row goes
// once the log is full, so a window left reading for days keeps a bounded log.
class TrafficLogModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kMaxRows = 10000;

    enum Column {
        TimeColumn,
        DeviceColumn,
        AddressColumn,
        SentColumn,
        ReceivedColumn,
        OutcomeColumn,
        CheckValueColumn,
        EchoColumn,
        ElapsedColumn,
        ExplanationColumn,
        ColumnCount
    };

    explicit TrafficLogModel(QObject* parent = nullptr);

    void addEntry(TrafficLogEntry entry);
    void clear();

    // Oldest first.
    const std::deque<TrafficLogEntry>& entries() const { return entries_; }
    TrafficLogCounters counters() const { return counters_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void countersChanged();

private:
    QString cellText(const TrafficLogEntry& entry, int column) const;
    QVariant outcomeToolTip(const TrafficLogEntry& entry) const;
    void count(const TrafficLogEntry& entry);

    std::deque<TrafficLogEntry> entries_;
    TrafficLogCounters counters_;
    QFont bytesFont_; // fixed pitch, so that the bytes of successive rows line up
    QFont emphasisFont_;
};

// The entries as a CSV file in UTF-8, header first, lines ending in CRLF and fields quoted where
// they must be: darq-read's columns time,address,outcome,flow,total,bytes,crc,latency_ms,baud,echo,
// exception,header_ok followed by explanation,sent,received. The time is in UTC as darq-read
// writes it, so that logs of both programs sort together; numbers never depend on the locale.
QByteArray trafficLogCsv(const std::deque<TrafficLogEntry>& entries);

// The row for an exchange that ran, with its explanation in the operator's language.
TrafficLogEntry trafficLogEntry(const ExchangeReport& report);

} // namespace darq
