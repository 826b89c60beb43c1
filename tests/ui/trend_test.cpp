// The trend window: gaps where no reading came, a line for each address, following the newest
// reading until the operator looks elsewhere, the log's bound, and its pictures.

#include "instrument_end.h"
#include "protocol/read_request.h"
#include "ui/traffic_log.h"
#include "ui/trend_window.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace darq {
namespace {

using Status = ReadingRecord::Status;
using testing::waitFor;

constexpr double kStartMs = 1796710376000.0; // 2026-12-08T06:12:56Z
constexpr double kStepMs = 10000.0;

enum class Read {
    Clean,
    NoData,
    Short,
    BadCheckValue,
    OtherAddress,
    Interrupted,
    PortLost,
    NotSent
};

// Read number `step` of the instrument at `address`, ten seconds after the one before; a clean
// reading's flow is 12.50 and its total `total` thousandths.
ReadingRecord readAt(int step, Read read, int address = 1, std::int32_t total = 1000) {
    ReadingRecord record;
    record.time = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(std::int64_t(kStartMs + step * kStepMs)));
    record.device = "/dev/ttyUSB0";
    record.baudRate = 9600;
    record.address = address;
    const ReadRequest frame = *buildReadRequest(address);
    record.request = Bytes(frame.begin(), frame.end());
    Bytes reply = encodeReply(std::uint8_t(address), {1250, 2, 0, total, 3});
    switch (read) {
    case Read::Clean:
        break;
    case Read::NoData:
        reply.clear();
        break;
    case Read::Short:
        reply.resize(9);
        break;
    case Read::BadCheckValue:
        reply.back() ^= 0xFF;
        break;
    case Read::OtherAddress:
        reply = encodeReply(std::uint8_t(address + 1), {1250, 2, 0, total, 3});
        break;
    case Read::Interrupted:
        record.status = Status::Interrupted;
        break;
    case Read::PortLost:
        record.status = Status::PortLost;
        break;
    case Read::NotSent:
        record.status = Status::NotSent;
        record.request.clear();
        break;
    }
    if (record.status == Status::Completed) {
        record.outcome = judgeReply(record.request, reply);
    }
    return record;
}

void add(TrafficLogModel& log, const ReadingRecord& record) {
    log.addEntry(trafficLogEntry(record));
}

QChartView* chartOf(TrendWindow& trend) {
    return trend.findChild<QChartView*>(QStringLiteral("trendChart"));
}

// A rebuild asked for by a change of the view runs from the event loop.
void settle() {
    QTest::qWait(20);
}

TEST(TrendWindow, EachKindOfMissingReadingIsAGapWithItsMarkNeverAZero) {
    const struct {
        Read read;
        std::optional<TrendGap> gap; // none: no mark, the line goes on
    } cases[] = {
        {Read::NoData, TrendGap::NoData},
        {Read::Short, TrendGap::NoData},
        {Read::BadCheckValue, TrendGap::BadReply},
        {Read::OtherAddress, TrendGap::BadReply},
        {Read::Interrupted, TrendGap::Interrupted},
        {Read::PortLost, TrendGap::Interrupted},
        {Read::NotSent, std::nullopt},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(int(example.read));
        TrafficLogModel log;
        TrendWindow trend(log);
        trend.show();
        add(log, readAt(0, Read::Clean));
        add(log, readAt(1, Read::Clean));
        add(log, readAt(2, example.read));
        add(log, readAt(3, Read::Clean));
        // Readings that come faster than the chart is drawn are drawn together, soon.
        ASSERT_TRUE(waitFor([&] { return trend.pointCount(1) == 3; }));
        for (int kind = 0; kind < kTrendGapKinds; ++kind) {
            EXPECT_EQ(trend.gapMarkCount(TrendGap(kind)), example.gap == TrendGap(kind) ? 1 : 0);
        }
        EXPECT_EQ(trend.pieceCount(1), example.gap ? 2 : 1);
        EXPECT_EQ(trend.pointCount(1), 3);
        // Drawn afresh from the log, as a change of the view does, it is the same.
        trend.showWholeLog();
        settle();
        EXPECT_EQ(trend.pieceCount(1), example.gap ? 2 : 1);
        EXPECT_EQ(trend.pointCount(1), 3);
        const TrendPicture picture = [&] {
            TrendTrace trace(0);
            return trendPicture(log.entries(), 0, 1e15, trace);
        }();
        EXPECT_EQ(picture.flowRange, std::make_pair(12.5, 12.5));
        EXPECT_EQ(picture.totalRange, std::make_pair(1.0, 1.0));
    }
}

TEST(TrendWindow, EachAddressHasItsOwnLinesNamedInTheLegend) {
    TrafficLogModel log;
    TrendWindow trend(log);
    trend.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&trend));
    for (int step = 0; step < 10; ++step) {
        add(log, readAt(step, Read::Clean, 1, 1000 + step));
        // Address 5 misses every third read: its line breaks, address 1's does not.
        add(log, readAt(step, step % 3 == 2 ? Read::NoData : Read::Clean, 5, 9000 + step));
    }
    ASSERT_TRUE(waitFor([&] { return trend.pointCount(1) == 10 && trend.pointCount(5) == 7; }));
    EXPECT_EQ(trend.pieceCount(1), 1);
    EXPECT_EQ(trend.pointCount(1), 10);
    EXPECT_EQ(trend.pieceCount(5), 4);
    EXPECT_EQ(trend.pointCount(5), 7);
    QStringList named;
    for (const QLegendMarker* marker : chartOf(trend)->chart()->legend()->markers()) {
        // The pieces of a line are nameless: each line is named once.
        if (marker->label().contains(QStringLiteral("address"))) {
            named << marker->label();
        }
    }
    EXPECT_EQ(named, QStringList({"Flow, address 1", "Total, address 1", "Flow, address 5",
                                  "Total, address 5"}));
}

TEST(TrendWindow, FollowsTheNewestReadingUntilZoomedOrPannedAndEndFollowsAgain) {
    TrafficLogModel log;
    TrendWindow trend(log);
    trend.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&trend));
    int step = 0;
    const auto readNext = [&] {
        add(log, readAt(step, Read::Clean, 1, 1000 + step));
        return kStartMs + kStepMs * step++;
    };
    for (int read = 0; read < 120; ++read) {
        readNext();
    }
    const auto newestInView = [&](double newest) {
        return trend.view().first < newest && newest <= trend.view().second;
    };
    EXPECT_TRUE(trend.following());
    const double shown = readNext();
    EXPECT_TRUE(waitFor([&] { return newestInView(shown); }));

    // Four notches in around the middle: the newest reading is beyond the right edge.
    QChartView* chart = chartOf(trend);
    const QPoint middle = chart->viewport()->rect().center();
    QWheelEvent wheel(middle, chart->viewport()->mapToGlobal(middle), QPoint(), QPoint(0, 4 * 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart->viewport(), &wheel);
    settle();
    EXPECT_FALSE(trend.following());
    const auto zoomed = trend.view();
    EXPECT_FALSE(newestInView(readNext()));
    EXPECT_EQ(trend.view(), zoomed);

    // A drag to the right shows earlier readings.
    QTest::mousePress(chart->viewport(), Qt::LeftButton, {}, middle);
    QTest::mouseMove(chart->viewport(), middle + QPoint(100, 0));
    QTest::mouseRelease(chart->viewport(), Qt::LeftButton, {}, middle + QPoint(100, 0));
    settle();
    EXPECT_LT(trend.view().first, zoomed.first);
    EXPECT_NEAR(trend.view().second - trend.view().first, zoomed.second - zoomed.first, 1.0);
    EXPECT_FALSE(trend.following());

    QTest::keyClick(chart, Qt::Key_End);
    EXPECT_TRUE(trend.following());
    const double newest = readNext();
    EXPECT_TRUE(waitFor([&] { return newestInView(newest); }));
    EXPECT_NEAR(trend.view().second - trend.view().first, zoomed.second - zoomed.first, kStepMs);

    QTest::keyClick(chart, Qt::Key_Home);
    settle();
    EXPECT_FALSE(trend.following());
    EXPECT_LE(trend.view().first, kStartMs);
    EXPECT_GE(trend.view().second, newest);
}

TEST(TrendWindow, KeepsTheSameNewestReadingsAsTheLog) {
    constexpr int kExtra = 50;
    TrafficLogModel log;
    TrendWindow trend(log);
    trend.show();
    for (int step = 0; step < TrafficLogModel::kMaxRows + kExtra; ++step) {
        add(log, readAt(step, Read::Clean, 1, 1000 + step));
    }
    trend.showWholeLog();
    settle();
    // The whole log in view: its 10,000 readings, the first 50 gone from both.
    EXPECT_EQ(trend.pointCount(1), TrafficLogModel::kMaxRows);

    log.clear();
    EXPECT_EQ(trend.pointCount(1), 0);
}

TEST(TrendWindow, SavesPngAndSvgAndSaysWhyWhenItCannot) {
    TrafficLogModel log;
    TrendWindow trend(log);
    trend.show();
    for (int step = 0; step < 20; ++step) {
        add(log, readAt(step, step % 7 == 3 ? Read::NoData : Read::Clean, 1, 1000 + step * 10));
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const struct {
        const char* name;
        QByteArray start;
    } pictures[] = {{"trend.png", "\x89PNG"}, {"trend.svg", "<?xml"}};
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture.name);
        const QString path = folder.filePath(QLatin1String(picture.name));
        ASSERT_TRUE(trend.saveImage(path));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().startsWith(picture.start));
    }

    // A folder that takes no files; for a superuser, who may write anywhere, a file in the way.
    QTemporaryDir readOnly;
    ASSERT_TRUE(readOnly.isValid());
    QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::ExeOwner);
    QString refused = readOnly.filePath(QStringLiteral("trend.png"));
    if (QFileInfo(readOnly.path()).isWritable()) {
        refused = folder.filePath(QStringLiteral("trend.svg/trend.png"));
    }
    EXPECT_FALSE(trend.saveImage(refused));
    const auto* box = trend.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("The trend was not saved to ") + refused +
                                       QStringLiteral(": ")))
        << box->text().toStdString();
    EXPECT_GT(box->text().size(),
              (QStringLiteral("The trend was not saved to : ") + refused).size());
    EXPECT_EQ(trend.findChild<QLabel*>(QStringLiteral("trendSaveStatus"))->text(), box->text());
    QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace
} // namespace darq
