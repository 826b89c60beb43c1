#pragma once

#include "protocol/reading_record.h"

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
    ReadingRecord record;
    // Plain words, in the operator's language, for anything not cleanly decoded; for a read not
    // sent, why.
    QString explanation;
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
        LatencyColumn,
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

// The entries as a CSV file in UTF-8, header first, lines ending in CRLF: darq-read's columns,
// written by the same writer, followed by explanation,sent,received. The time is in UTC as
// darq-read writes it, so that logs of both programs sort together.
QByteArray trafficLogCsv(const std::deque<TrafficLogEntry>& entries);

// The row for a read, with its explanation in the operator's language.
TrafficLogEntry trafficLogEntry(const ReadingRecord& record);

// The local time of a record's time, to the millisecond.
QDateTime localTime(std::chrono::system_clock::time_point time);

} // namespace darq
