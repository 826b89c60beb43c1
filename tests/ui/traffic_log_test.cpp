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

using Status = ReadingRecord::Status;

const Bytes kRequest = {0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x37};
const Bytes kReply = {0x01, 0x03, 0x0C, 0x00, 0x00, 0x05, 0x1B, 0x02, 0x00,
                      0x00, 0x00, 0x00, 0x02, 0x2C, 0x03, 0x41, 0x48};

enum class Row { Decoded, WrongCheckValue, NoData, Ignored, NotSent, Interrupted };

// A read of 2026-12-08T06:12:56.160Z on /dev/ttyUSB0 at 9600 Bd, address 1, as the engine reports
// it: `received` came back 100 ms after the send.
ReadingRecord recordOf(Status status, const Bytes& received) {
    ReadingRecord record;
    record.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796710376160));
    record.device = "/dev/ttyUSB0";
    record.baudRate = 9600;
    record.address = 1;
    record.status = status;
    if (status != Status::NotSent) {
        record.request = kRequest;
    }
    if (status == Status::Completed) {
        record.outcome = judgeReply(kRequest, received);
        if (!received.empty()) {
            record.latencyMs = 100.0;
        }
    }
    return record;
}

TrafficLogEntry entryOf(Row row) {
    Bytes damaged = kReply;
    damaged[16] ^= 0xFF;
    switch (row) {
    case Row::Decoded:
        return trafficLogEntry(recordOf(Status::Completed, kReply));
    case Row::WrongCheckValue:
        return trafficLogEntry(recordOf(Status::Completed, damaged));
    case Row::NoData:
        return trafficLogEntry(recordOf(Status::Completed, {}));
    case Row::Ignored:
        return trafficLogEntry(recordOf(Status::Completed, Bytes(kReply.begin(), kReply.end() - 1)));
    case Row::NotSent:
        return trafficLogEntry(recordOf(Status::NotSent, {}));
    case Row::Interrupted:
        return trafficLogEntry(recordOf(Status::Interrupted, {}));
    }
    return {};
}

TEST(TrafficLogModel, KeepsTheNewestRowsAndCountsEveryRead) {
    // Each group of seven: two decoded, one of them with a wrong check value, then one of each
    // other outcome.
    const std::vector<TrafficLogEntry> pattern = {
        entryOf(Row::Decoded), entryOf(Row::WrongCheckValue), entryOf(Row::NoData),
        entryOf(Row::Ignored), entryOf(Row::NotSent),         entryOf(Row::Interrupted),
        entryOf(Row::Decoded),
    };
    constexpr int kAdded = TrafficLogModel::kMaxRows + 50;
    TrafficLogModel model;
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    for (int number = 0; number < kAdded; ++number) {
        TrafficLogEntry entry = pattern[std::size_t(number) % pattern.size()];
        entry.record.device = "/dev/ttyS" + std::to_string(number);
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
    Bytes echoThenDamaged = kRequest;
    echoThenDamaged.insert(echoThenDamaged.end(), kReply.begin(), kReply.end());
    echoThenDamaged.back() ^= 0xFF;
    TrafficLogEntry echoedBadCheckValue =
        trafficLogEntry(recordOf(Status::Completed, echoThenDamaged));
    echoedBadCheckValue.record.latencyMs = 1234.0;
    echoedBadCheckValue.explanation =
        QStringLiteral("the check value is wrong, the reply was \"damaged\" on the line");

    TrafficLogEntry notSent = entryOf(Row::NotSent);
    notSent.record.address.reset();
    notSent.explanation = QStringLiteral("no instrument address is selected; nothing was sent");

    TrafficLogEntry exception =
        trafficLogEntry(recordOf(Status::Completed, {0x01, 0x83, 0x02, 0xC0, 0xF1}));
    exception.explanation = QStringLiteral("exception 02\nillegal data address");

    const struct {
        const char* name;
        TrafficLogEntry entry;
        const char* line;
    } cases[] = {
        {"bad check value behind an echo", echoedBadCheckValue,
         "2026-12-08T06:12:56.160Z,1,bad-check,13.07,0.556,17,bad,1234.0,9600,true,,true,"
         "/dev/ttyUSB0,false,"
         "\"the check value is wrong, the reply was \"\"damaged\"\" on the line\","
         "01 03 01 03 00 03 F4 37,"
         "01 03 01 03 00 03 F4 37 01 03 0C 00 00 05 1B 02 00 00 00 00 02 2C 03 41 B7\r\n"},
        {"not sent", notSent,
         "2026-12-08T06:12:56.160Z,,not-sent,,,0,,,9600,false,,,/dev/ttyUSB0,false,"
         "no instrument address is selected; nothing was sent,,\r\n"},
        {"exception answer", exception,
         "2026-12-08T06:12:56.160Z,1,ignored,,,5,,100.0,9600,false,2,,/dev/ttyUSB0,false,"
         "\"exception 02\nillegal data address\",01 03 01 03 00 03 F4 37,01 83 02 C0 F1\r\n"},
    };
    const QByteArray header = "time,address,outcome,flow,total,bytes,crc,latency_ms,baud,echo,"
                              "exception,header_ok,device,total_back,explanation,sent,received\r\n";
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
        model.addEntry(entryOf(Row::Decoded));
        TrafficLogWindow window(model);
        window.show();
        Bytes echoThenShort = kRequest;
        echoThenShort.insert(echoThenShort.end(), kReply.begin(), kReply.end() - 1);
        ReadingRecord echoedRecord = recordOf(Status::Completed, echoThenShort);
        echoedRecord.device = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX3BQ-if00-port0";
        const TrafficLogEntry echoed = trafficLogEntry(echoedRecord);
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
        model_.addEntry(entryOf(Row::Decoded));
        model_.addEntry(entryOf(Row::NoData));
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
    model_.addEntry(entryOf(Row::Ignored));
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
