#include "ui/traffic_log.h"

#include "protocol/reply_words.h"

#include <QCoreApplication>
#include <QFontDatabase>

namespace darq {

namespace {

using Status = ReadingRecord::Status;

QString hexOf(const Bytes& bytes) {
    return QString::fromStdString(hexText(bytes));
}

bool decoded(const ReadingRecord& record) {
    return record.status == Status::Completed &&
           record.outcome.kind == ReadOutcome::Kind::Decoded;
}

bool cleanlyDecoded(const ReadingRecord& record) {
    return record.status == Status::Completed && record.outcome.isReading();
}

QString translated(const Words& words) {
    return QString::fromStdString(render(words, [](const std::string& text) {
        return QCoreApplication::translate("ReplyWords", text.c_str()).toStdString();
    }));
}

} // namespace

TrafficLogModel::TrafficLogModel(QObject* parent)
    : QAbstractTableModel(parent), bytesFont_(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
    emphasisFont_.setBold(true);
}

void TrafficLogModel::addEntry(TrafficLogEntry entry) {
    count(entry);
    if (entries_.size() >= std::size_t(kMaxRows)) {
        beginRemoveRows(QModelIndex(), 0, 0);
        entries_.pop_front();
        endRemoveRows();
    }
    const int row = int(entries_.size());
    beginInsertRows(QModelIndex(), row, row);
    entries_.push_back(std::move(entry));
    endInsertRows();
    emit countersChanged();
}

void TrafficLogModel::clear() {
    beginResetModel();
    entries_.clear();
    endResetModel();
    counters_ = TrafficLogCounters();
    emit countersChanged();
}

void TrafficLogModel::count(const TrafficLogEntry& entry) {
    const ReadingRecord& record = entry.record;
    switch (record.status) {
    case Status::NotSent:
        ++counters_.refused;
        return;
    case Status::Interrupted:
    case Status::PortLost:
        ++counters_.reads;
        ++counters_.interrupted;
        return;
    case Status::Completed:
        break;
    }
    ++counters_.reads;
    switch (record.outcome.kind) {
    case ReadOutcome::Kind::Decoded:
        ++counters_.decoded;
        if (!record.outcome.checkValueOk) {
            ++counters_.wrongCheckValue;
        }
        break;
    case ReadOutcome::Kind::NoData:
        ++counters_.noData;
        break;
    case ReadOutcome::Kind::Ignored:
        ++counters_.ignored;
        break;
    }
}

int TrafficLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(entries_.size());
}

int TrafficLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrafficLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(entries_.size())) {
        return {};
    }
    const TrafficLogEntry& entry = entries_[std::size_t(index.row())];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(entry, column);
    case Qt::ToolTipRole:
        if (column == OutcomeColumn) {
            return outcomeToolTip(entry);
        }
        // The long cells are cut off at the column's edge.
        if (column == DeviceColumn || column == SentColumn || column == ReceivedColumn ||
            column == ExplanationColumn) {
            const QString text = cellText(entry, column);
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        return {};
    case Qt::FontRole:
        if (column == SentColumn || column == ReceivedColumn) {
            return bytesFont_;
        }
        // What went wrong stands out in the desktop's own colours.
        if (entry.record.totalBackFrom &&
            (column == OutcomeColumn || column == ExplanationColumn)) {
            return emphasisFont_;
        }
        if ((column == OutcomeColumn && !cleanlyDecoded(entry.record)) ||
            (column == CheckValueColumn && decoded(entry.record) &&
             !entry.record.outcome.checkValueOk)) {
            return emphasisFont_;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column == AddressColumn || column == LatencyColumn) {
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
        return {};
    default:
        return {};
    }
}

// The values read, and why the row is not a clean reading, where the pointer rests: the
// explanation's own column is often scrolled out of view.
QVariant TrafficLogModel::outcomeToolTip(const TrafficLogEntry& entry) const {
    QStringList lines;
    if (decoded(entry.record)) {
        lines << tr("flow %1, total %2")
                     .arg(QString::fromStdString(entry.record.outcome.flowText),
                          QString::fromStdString(entry.record.outcome.totalText));
    }
    if (!entry.explanation.isEmpty()) {
        lines << entry.explanation;
    }
    return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
}

QString TrafficLogModel::cellText(const TrafficLogEntry& entry, int column) const {
    const ReadingRecord& record = entry.record;
    const ReadOutcome& outcome = record.outcome;
    switch (column) {
    case TimeColumn:
        return localTime(record.time).toString(QStringLiteral("hh:mm:ss.zzz"));
    case DeviceColumn:
        return tr("%1 at %2 Bd").arg(QString::fromStdString(record.device)).arg(record.baudRate);
    case AddressColumn:
        return record.address ? QString::number(*record.address) : tr("none");
    case SentColumn:
        return record.request.empty() ? tr("nothing sent") : hexOf(record.request);
    case ReceivedColumn:
        return hexOf(outcome.received);
    case OutcomeColumn:
        switch (record.status) {
        case Status::NotSent:
            return tr("not sent");
        case Status::Interrupted:
        case Status::PortLost:
            return tr("interrupted");
        case Status::Completed:
            break;
        }
        switch (outcome.kind) {
        case ReadOutcome::Kind::Decoded:
            return tr("decoded");
        case ReadOutcome::Kind::NoData:
            return tr("no data");
        case ReadOutcome::Kind::Ignored:
            // No English plural forms are installed: the count picks the text.
            return outcome.reply().size() == 1
                       ? tr("ignored: 1 byte")
                       : tr("ignored: %1 bytes").arg(outcome.reply().size());
        }
        return {};
    case CheckValueColumn:
        if (!decoded(record)) {
            return tr("none");
        }
        return outcome.checkValueOk ? tr("right") : tr("wrong");
    case EchoColumn:
        return outcome.echoRemoved ? tr("yes") : tr("no");
    case LatencyColumn:
        return record.latencyMs ? QString::number(*record.latencyMs, 'f', 1) : QString();
    case ExplanationColumn:
        return entry.explanation;
    default:
        return {};
    }
}

QVariant TrafficLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::ToolTipRole && section == LatencyColumn) {
        return tr("From the end of the send to the reply's last byte");
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case DeviceColumn:
        return tr("Device and rate");
    case AddressColumn:
        return tr("Address");
    case SentColumn:
        return tr("Sent");
    case ReceivedColumn:
        return tr("Received");
    case OutcomeColumn:
        return tr("Outcome");
    case CheckValueColumn:
        return tr("Check value");
    case EchoColumn:
        return tr("Echo removed");
    case LatencyColumn:
        return tr("Latency (ms)");
    case ExplanationColumn:
        return tr("Explanation");
    default:
        return {};
    }
}

TrafficLogEntry trafficLogEntry(const ReadingRecord& record) {
    TrafficLogEntry entry{record, QString::fromStdString(record.problem)};
    if (record.status == Status::Completed) {
        if (const std::optional<Words> words = explanationWords(record.outcome, WordsFor::Window)) {
            entry.explanation = translated(*words);
        }
        if (record.totalBackFrom) {
            entry.explanation =
                translated(totalBackWords(*record.totalBackFrom, record.outcome.totalText));
        }
    }
    return entry;
}

QByteArray trafficLogCsv(const std::deque<TrafficLogEntry>& entries) {
    std::vector<std::string> columns = csvColumns();
    columns.insert(columns.end(), {"explanation", "sent", "received"});
    std::string text = csvLine(columns) + "\r\n";
    for (const TrafficLogEntry& entry : entries) {
        std::vector<std::string> fields = csvFields(entry.record);
        fields.insert(fields.end(), {entry.explanation.toStdString(), hexText(entry.record.request),
                                     hexText(entry.record.outcome.received)});
        text += csvLine(fields) + "\r\n";
    }
    return QByteArray::fromStdString(text);
}

QDateTime localTime(std::chrono::system_clock::time_point time) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

} // namespace darq
