// The traffic log: its bound and counters, its CSV, and saving it from its window.

#include "ui/traffic_log.h"
#include "ui/traffic_log_window.h"
#include "ui/translation.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace darq {
namespace {

using Outcome = TrafficLogEntry::Outcome;

const Bytes kRequest = {0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x37};
const Bytes kReply = {0x01, 0x03, 0x0C, 0x00, 0x00, 0x05, 0x1B, 0x02, 0x00,
                      0x00, 0x00, 0x00, 0x02, 0x2C, 0x03, 0x41, 0x48};

TrafficLogEntry decodedEntry(bool checkValueOk) {
    TrafficLogEntry entry;
    // Local time, as the window records it; the CSV gives it in UTC.
    entry.time = QDateTime(QDate(2026, 12, 8), QTime(6, 12, 56, 160), Qt::UTC).toLocalTime();
    entry.device = QStringLiteral("/dev/ttyUSB0");
    entry.baudRate = 9600;
    entry.address = 1;
    entry.sent = kRequest;
    entry.received = kReply;
    entry.outcome = Outcome::Decoded;
    entry.flowText = QStringLiteral("13.07");
    entry.totalText = QStringLiteral("0.556");
    entry.checkValueOk = checkValueOk;
    entry.headerOk = true;
    entry.elapsedMs = 100;
    return entry;
}

TrafficLogEntry entryWith(Outcome outcome) {
    TrafficLogEntry entry = decodedEntry(true);
    entry.outcome = outcome;
    if (outcome != Outcome::Decoded) {
        entry.received.clear();
        entry.checkValueOk.reset();
        entry.headerOk.reset();
    }
    if (outcome == Outcome::NotSent) {
        entry.sent.clear();
        entry.elapsedMs.reset();
    }
    return entry;
}

TEST(TrafficLogModel, KeepsTheNewestRowsAndCountsEveryRead) {
    // Each group of seven: two decoded, one of them with a wrong check value, then one of each
    // other outcome.
    const std::vector<TrafficLogEntry> pattern = {
        decodedEntry(true),          decodedEntry(false),         entryWith(Outcome::NoData),
        entryWith(Outcome::Ignored), entryWith(Outcome::NotSent), entryWith(Outcome::Interrupted),
        decodedEntry(true),
    };
    constexpr int kAdded = TrafficLogModel::kMaxRows + 50;
    TrafficLogModel model;
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    for (int number = 0; number < kAdded; ++number) {
        TrafficLogEntry entry = pattern[std::size_t(number) % pattern.size()];
        entry.device = QStringLiteral("/dev/ttyS%1").arg(number);
        model.addEntry(std::move(entry));
    }

    ASSERT_EQ(model.rowCount(), TrafficLogModel::kMaxRows);
    EXPECT_EQ(removed.count(), 50);
    const auto deviceCell = [&](int row) {
        return model.index(row, TrafficLogModel::DeviceColumn).data().toString();
    };
    EXPECT_EQ(deviceCell(0), "/dev/ttyS50 at 9600 Bd");
    EXPECT_EQ(deviceCell(TrafficLogModel::kMaxRows - 1), "/dev/ttyS10049 at 9600 Bd");

    // 10,050 = 1,435 whole groups and five more entries (decoded, wrong, no data, ignored, not
    // sent).
    const TrafficLogCounters counters = model.counters();
    EXPECT_EQ(counters.decoded, 1435 * 3 + 2);
    EXPECT_EQ(counters.wrongCheckValue, 1435 + 1);
    EXPECT_EQ(counters.noData, 1435 + 1);
    EXPECT_EQ(counters.ignored, 1435 + 1);
    EXPECT_EQ(counters.interrupted, 1435);
    EXPECT_EQ(counters.refused, 1435 + 1);
    EXPECT_EQ(counters.reads, kAdded - counters.refused);

    QSignalSpy countersChanged(&model, &TrafficLogModel::countersChanged);
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(countersChanged.count(), 1);
    const TrafficLogCounters cleared = model.counters();
    EXPECT_EQ(cleared.reads + cleared.decoded + cleared.noData + cleared.ignored +
                  cleared.wrongCheckValue + cleared.interrupted + cleared.refused,
              0);
}

TEST(TrafficLogCsv, WritesDarqReadsColumnsThenTheExchange) {
    TrafficLogEntry echoedBadCheckValue = decodedEntry(false);
    echoedBadCheckValue.received = kRequest;
    echoedBadCheckValue.received.insert(echoedBadCheckValue.received.end(), kReply.begin(),
                                        kReply.end());
    echoedBadCheckValue.echoRemoved = true;
    echoedBadCheckValue.elapsedMs = 1234;
    echoedBadCheckValue.explanation =
        QStringLiteral("the check value is wrong, the reply was \"damaged\" on the line");

    TrafficLogEntry notSent = entryWith(Outcome::NotSent);
    notSent.address.reset();
    notSent.explanation = QStringLiteral("no instrument address is selected; nothing was sent");

    TrafficLogEntry exception = entryWith(Outcome::Ignored);
    exception.received = {0x01, 0x83, 0x02, 0xC0, 0xF1};
    exception.exceptionCode = 2;
    exception.headerOk.reset();
    exception.explanation = QStringLiteral("exception 02\nillegal data address");

    const struct {
        const char* name;
        TrafficLogEntry entry;
        const char* line;
    } cases[] = {
        {"decoded, bad check value, echo", echoedBadCheckValue,
         "2026-12-08T06:12:56.160Z,1,decoded,13.07,0.556,17,bad,1234.0,9600,true,,true,"
         "\"the check value is wrong, the reply was \"\"damaged\"\" on the line\","
         "01 03 01 03 00 03 F4 37,"
         "01 03 01 03 00 03 F4 37 01 03 0C 00 00 05 1B 02 00 00 00 00 02 2C 03 41 48\r\n"},
        {"not sent", notSent,
         "2026-12-08T06:12:56.160Z,,not-sent,,,0,,,9600,false,,,"
         "no instrument address is selected; nothing was sent,,\r\n"},
        {"exception answer", exception,
         "2026-12-08T06:12:56.160Z,1,ignored,,,5,,100.0,9600,false,2,,"
         "\"exception 02\nillegal data address\",01 03 01 03 00 03 F4 37,01 83 02 C0 F1\r\n"},
    };
    const QByteArray header = "time,address,outcome,flow,total,bytes,crc,latency_ms,baud,echo,"
                              "exception,header_ok,explanation,sent,received\r\n";
    std::deque<TrafficLogEntry> all;
    QByteArray allLines = header;
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        EXPECT_EQ(trafficLogCsv({example.entry}).toStdString(),
                  (header + QByteArray(example.line)).toStdString());
        all.push_back(example.entry);
        allLines += example.line;
    }
    EXPECT_EQ(trafficLogCsv(all).toStdString(), allLines.toStdString());
}

// Every column shows its caption and its cells whole, in English as in Chinese: the device's
// by-id name with the rate, an echoed reply, an outcome in bold.
TEST(TrafficLogWindow, ColumnsFitTheirCaptionsAndContentsInEitherLanguage) {
    for (const char* locale : {"en_GB", "zh_CN"}) {
        SCOPED_TRACE(locale);
        const auto translations = installTranslations(QLocale(QLatin1String(locale)));
        TrafficLogModel model;
        model.addEntry(decodedEntry(true));
        TrafficLogWindow window(model);
        window.show();
        TrafficLogEntry echoed = entryWith(Outcome::Ignored);
        echoed.device =
            QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX3BQ-if00-port0");
        echoed.received = kRequest;
        echoed.received.insert(echoed.received.end(), kReply.begin(), kReply.end());
        echoed.echoRemoved = true;
        model.addEntry(echoed);

        auto* table = window.findChild<QTableView*>();
        const QHeaderView* header = table->horizontalHeader();
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        // A selected row sets every caption in bold.
        QFont bold = header->font();
        bold.setBold(true);
        const QFontMetrics caption(bold);
        for (int column = 0; column < TrafficLogModel::ExplanationColumn; ++column) {
            const QString text = model.headerData(column, Qt::Horizontal).toString();
            SCOPED_TRACE(text.toStdString());
            // Qt's own measure of the widest cell, and the caption's ink within the header's
            // margins and the line between sections.
            EXPECT_GE(header->sectionSize(column),
                      static_cast<QAbstractItemView*>(table)->sizeHintForColumn(column));
            EXPECT_GE(header->sectionSize(column),
                      caption.boundingRect(text).width() + 2 * margin + 1);
        }
    }
}

class TrafficLogWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.isValid());
        model_.addEntry(decodedEntry(true));
        model_.addEntry(entryWith(Outcome::NoData));
        window_.show();
    }

    // Presses 保存… and chooses `path` in its file dialog, as the operator would.
    void saveThroughDialog(const QString& path) {
        window_.findChild<QPushButton*>(QStringLiteral("saveTrafficLog"))->click();
        auto* dialog = window_.findChild<QFileDialog*>();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(dialog->isVisible());
        EXPECT_FALSE(dialog->isModal());
        dialog->selectFile(path);
        // QFileDialog's accept() is protected; through QDialog it is the button the operator
        // presses.
        static_cast<QDialog*>(dialog)->accept();
    }

    QByteArray contentsOf(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QList<QMessageBox*> visibleBoxes() const {
        QList<QMessageBox*> visible;
        for (QMessageBox* box : window_.findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                visible << box;
            }
        }
        return visible;
    }

    QString saveStatus() const {
        return window_.findChild<QLabel*>(QStringLiteral("saveStatus"))->text();
    }

    QTemporaryDir directory_;
    TrafficLogModel model_;
    TrafficLogWindow window_{model_};
};

TEST_F(TrafficLogWindowTest, SavesThroughItsDialogAndTellsAFailedWrite) {
    const QString path = directory_.filePath(QStringLiteral("log.csv"));
    saveThroughDialog(path);
    EXPECT_EQ(contentsOf(path), trafficLogCsv(model_.entries()));
    EXPECT_TRUE(saveStatus().contains(path)) << saveStatus().toStdString();
    EXPECT_TRUE(visibleBoxes().isEmpty());

    // Saving over that file asks first, without holding up the event loop.
    model_.addEntry(entryWith(Outcome::Ignored));
    saveThroughDialog(path);
    ASSERT_EQ(visibleBoxes().size(), 1);
    QMessageBox* question = visibleBoxes().front();
    EXPECT_FALSE(question->isModal());
    question->button(QMessageBox::Yes)->click();
    EXPECT_EQ(contentsOf(path), trafficLogCsv(model_.entries()));

    const QString unwritable = directory_.filePath(QStringLiteral("missing/log.csv"));
    saveThroughDialog(unwritable);
    EXPECT_FALSE(QFile::exists(unwritable));
    const QList<QMessageBox*> boxes = visibleBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_FALSE(boxes.front()->isModal());
    EXPECT_TRUE(boxes.front()->text().contains(unwritable)) << boxes.front()->text().toStdString();
    EXPECT_TRUE(saveStatus().contains(unwritable));
}

} // namespace
} // namespace darq
