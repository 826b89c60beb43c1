#include "ui/traffic_log.h"

#include "protocol/reply_explanation.h"
#include "serial/reply_words.h"

#include <QFontDatabase>

#include <algorithm>

namespace darq {

namespace {

using Outcome = TrafficLogEntry::Outcome;

QString hexOf(const Bytes& bytes) {
    return QString::fromStdString(hexText(bytes));
}

// What came after the echo: the bytes the outcome was decided on.
qsizetype replyLength(const TrafficLogEntry& entry) {
    const qsizetype echoLength = entry.echoRemoved ? qsizetype(entry.sent.size()) : 0;
    return std::max<qsizetype>(0, qsizetype(entry.received.size()) - echoLength);
}

const char* outcomeWord(Outcome outcome) {
    switch (outcome) {
    case Outcome::Decoded:
        return "decoded";
    case Outcome::NoData:
        return "no-data";
    case Outcome::Ignored:
        return "ignored";
    case Outcome::NotSent:
        return "not-sent";
    case Outcome::Interrupted:
        return "interrupted";
    }
    return "";
}

bool cleanlyDecoded(const TrafficLogEntry& entry) {
    return entry.outcome == Outcome::Decoded && entry.checkValueOk != false &&
           entry.headerOk != false;
}

QString trueFalse(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString csvField(const QString& text) {
    static const QString kNeedsQuotes = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return kNeedsQuotes.contains(c); })) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvLine(const TrafficLogEntry& entry) {
    const bool decoded = entry.outcome == Outcome::Decoded;
    const QStringList fields = {
        entry.time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'")),
        entry.address ? QString::number(*entry.address) : QString(),
        QString::fromLatin1(outcomeWord(entry.outcome)),
        decoded ? entry.flowText : QString(),
        decoded ? entry.totalText : QString(),
        QString::number(replyLength(entry)),
        entry.checkValueOk ? (*entry.checkValueOk ? QStringLiteral("ok") : QStringLiteral("bad"))
                           : QString(),
        entry.elapsedMs ? QString::number(double(*entry.elapsedMs), 'f', 1) : QString(),
        QString::number(entry.baudRate),
        trueFalse(entry.echoRemoved),
        entry.exceptionCode ? QString::number(*entry.exceptionCode) : QString(),
        entry.headerOk ? trueFalse(*entry.headerOk) : QString(),
        entry.explanation,
        hexOf(entry.sent),
        hexOf(entry.received),
    };
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields) {
        quoted.append(csvField(field));
    }
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
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
    if (entry.outcome == Outcome::NotSent) {
        ++counters_.refused;
        return;
    }
    ++counters_.reads;
    switch (entry.outcome) {
    case Outcome::Decoded:
        ++counters_.decoded;
        if (entry.checkValueOk == false) {
            ++counters_.wrongCheckValue;
        }
        break;
    case Outcome::NoData:
        ++counters_.noData;
        break;
    case Outcome::Ignored:
        ++counters_.ignored;
        break;
    case Outcome::Interrupted:
        ++counters_.interrupted;
        break;
    case Outcome::NotSent:
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
        if ((column == OutcomeColumn && !cleanlyDecoded(entry)) ||
            (column == CheckValueColumn && entry.checkValueOk == false)) {
            return emphasisFont_;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column == AddressColumn || column == ElapsedColumn) {
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
    if (entry.outcome == Outcome::Decoded) {
        lines << tr("flow %1, total %2").arg(entry.flowText, entry.totalText);
    }
    if (!entry.explanation.isEmpty()) {
        lines << entry.explanation;
    }
    return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
}

QString TrafficLogModel::cellText(const TrafficLogEntry& entry, int column) const {
    switch (column) {
    case TimeColumn:
        return entry.time.toLocalTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    case DeviceColumn:
        return tr("%1 at %2 Bd").arg(entry.device).arg(entry.baudRate);
    case AddressColumn:
        return entry.address ? QString::number(*entry.address) : tr("none");
    case SentColumn:
        return entry.sent.empty() ? tr("nothing sent") : hexOf(entry.sent);
    case ReceivedColumn:
        return hexOf(entry.received);
    case OutcomeColumn:
        switch (entry.outcome) {
        case Outcome::Decoded:
            return tr("decoded");
        case Outcome::NoData:
            return tr("no data");
        case Outcome::Ignored:
            return tr("ignored: %n byte(s)", nullptr, int(replyLength(entry)));
        case Outcome::NotSent:
            return tr("not sent");
        case Outcome::Interrupted:
            return tr("interrupted");
        }
        return {};
    case CheckValueColumn:
        if (!entry.checkValueOk) {
            return tr("none");
        }
        return *entry.checkValueOk ? tr("right") : tr("wrong");
    case EchoColumn:
        return entry.echoRemoved ? tr("yes") : tr("no");
    case ElapsedColumn:
        return entry.elapsedMs ? QString::number(*entry.elapsedMs) : QString();
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
    if (role == Qt::ToolTipRole && section == ElapsedColumn) {
        return tr("From the end of the send to the outcome");
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
    case ElapsedColumn:
        return tr("Time (ms)");
    case ExplanationColumn:
        return tr("Explanation");
    default:
        return {};
    }
}

TrafficLogEntry trafficLogEntry(const ExchangeReport& report) {
    using Outcome = TrafficLogEntry::Outcome;
    TrafficLogEntry entry;
    entry.time = report.sentAt;
    entry.device = report.device;
    entry.baudRate = report.baudRate;
    entry.address = report.address;
    entry.sent = report.request;
    entry.elapsedMs = report.elapsedMs;
    if (report.status != ExchangeReport::Status::Completed) {
        entry.outcome = Outcome::Interrupted;
        entry.explanation = TrafficLogModel::tr("the port closed while the reply was awaited");
        return entry;
    }
    const ReadOutcome& outcome = report.outcome;
    entry.received = outcome.received;
    entry.echoRemoved = outcome.echoRemoved;
    switch (outcome.kind) {
    case ReadOutcome::Kind::Decoded:
        entry.outcome = Outcome::Decoded;
        entry.flowText = QString::fromStdString(outcome.flowText);
        entry.totalText = QString::fromStdString(outcome.totalText);
        entry.checkValueOk = outcome.checkValueOk;
        break;
    case ReadOutcome::Kind::NoData:
        entry.outcome = Outcome::NoData;
        break;
    case ReadOutcome::Kind::Ignored:
        entry.outcome = Outcome::Ignored;
        break;
    }
    const ReplyExplanation explanation =
        explainReply(report.request, outcome, report.endedWhileArriving);
    entry.exceptionCode = explanation.exceptionCode;
    entry.headerOk = explanation.headerOk;
    entry.explanation = explanationText(explanation, WordsFor::Window);
    return entry;
}

QByteArray trafficLogCsv(const std::deque<TrafficLogEntry>& entries) {
    QString text = QStringLiteral("time,address,outcome,flow,total,bytes,crc,latency_ms,baud,echo,"
                                  "exception,header_ok,explanation,sent,received\r\n");
    for (const TrafficLogEntry& entry : entries) {
        text += csvLine(entry);
    }
    return text.toUtf8();
}

} // namespace darq
