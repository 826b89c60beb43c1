#include "instrument_end.h"
#include "serial/comm_control.h"
#include "protocol/line_timing.h"
#include "serial/exchange_engine.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

namespace darq {
namespace {

using testing::hex;
using testing::InstrumentEnd;
using testing::runEventsFor;
using testing::ScopedComPort;
using testing::waitFor;

// Flow 123456 with 2 decimals, total high part 0, low part 12345678 with 3 decimals.
const Bytes kReply = {0x01, 0x03, 0x0C, 0x00, 0x01, 0xE2, 0x40, 0x02, 0x00,
                      0x00, 0x00, 0xBC, 0x61, 0x4E, 0x03, 0x83, 0xE5};
// Flow -1 without decimals, total high part 7 in front of 12345678 with 3 decimals.
const Bytes kNegativeFlowReply = {0x01, 0x03, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                                  0x07, 0x00, 0xBC, 0x61, 0x4E, 0x03, 0x87, 0x2D};
const Bytes kRequestForAddress1 = {0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x37};

std::string text(const QString& message) {
    return message.toStdString();
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

ExchangeOrder readOf(int address, ReplyWait wait = ReplyWait::SettleTime) {
    ExchangeOrder order;
    order.address = address;
    order.wait = wait;
    return order;
}

ReadingRecord recordAt(const QSignalSpy& finished, int index) {
    return qvariant_cast<ReadingRecord>(finished.at(index).at(0));
}

class ExchangeOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open()) << text(port.lastError().message()); }

    ReadingRecord report(int index) const { return recordAt(finished, index); }
    bool waitForReports(int count) {
        return waitFor([&] { return finished.count() >= count; });
    }
    void answerWith(const Bytes& reply) {
        line.onRequest([this, reply](const Bytes&) { line.send(reply); });
    }

    InstrumentEnd line;
    ScopedComPort com1{1, line.devicePath()};
    CommControl port;
    ExchangeEngine engine{port};
    QSignalSpy finished{&engine, &ExchangeEngine::finished};
    QObject window; // who asks for the reads
};

TEST_F(ExchangeOnPty, RequestGoesOnTheWireExactly) {
    struct Case {
        int address;
        Bytes request;
    };
    const Case cases[] = {
        {0, {0x00, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF5, 0xE6}},
        {1, kRequestForAddress1},
        {2, {0x02, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x04}},
        {37, {0x25, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF2, 0xD3}},
        {127, {0x7F, 0x03, 0x01, 0x03, 0x00, 0x03, 0xFE, 0x29}},
        {128, {0x80, 0x03, 0x01, 0x03, 0x00, 0x03, 0xEA, 0x26}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.address);
        const std::size_t before = line.received().size();
        const int reportsBefore = finished.count();
        ASSERT_EQ(engine.submit(&window, readOf(row.address)), ReadStart::Accepted);
        ASSERT_TRUE(waitForReports(reportsBefore + 1));
        EXPECT_EQ(hex(slice(line.received(), before, line.received().size())), hex(row.request));
        const ReadingRecord result = report(reportsBefore);
        EXPECT_EQ(result.status, ReadingRecord::Status::Completed);
        EXPECT_EQ(result.address, row.address);
        EXPECT_EQ(result.device, line.devicePath().toStdString());
        EXPECT_EQ(hex(result.request), hex(row.request));
        EXPECT_EQ(result.outcome.kind, ReadOutcome::Kind::NoData);
    }
}

TEST_F(ExchangeOnPty, RepliesAreTakenAndDecodedEndToEnd) {
    // The longest settle time leaves the instrument played here the most slack on a busy machine;
    // the pseudo-terminal itself moves bytes at once whatever the rate.
    ASSERT_TRUE(port.applyRate(0));

    struct Case {
        const char* name;
        Bytes waitingBeforeRequest;
        std::vector<Bytes> pieces;
        ReadOutcome::Kind kind;
        const char* flow;
        const char* total;
    };
    const Case cases[] = {
        {"decoded reading", {}, {kReply}, ReadOutcome::Kind::Decoded, "1234.56", "12345.678"},
        {"negative flow and a high part",
         {},
         {kNegativeFlowReply},
         ReadOutcome::Kind::Decoded,
         "-1",
         "712345.678"},
        {"reply arriving in two pieces",
         {},
         {slice(kReply, 0, 5), slice(kReply, 5, 17)},
         ReadOutcome::Kind::Decoded,
         "1234.56",
         "12345.678"},
        {"old bytes waiting are discarded",
         {0x55, 0xAA, 0x01},
         {kReply},
         ReadOutcome::Kind::Decoded,
         "1234.56",
         "12345.678"},
        {"no reply", {}, {}, ReadOutcome::Kind::NoData, "", ""},
        {"sixteen bytes", {}, {slice(kReply, 0, 16)}, ReadOutcome::Kind::Ignored, "", ""},
        {"eighteen bytes", {}, {kReply, {0x00}}, ReadOutcome::Kind::Ignored, "", ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        if (!row.waitingBeforeRequest.empty()) {
            QSignalSpy late(&engine, &ExchangeEngine::lateBytes);
            line.send(row.waitingBeforeRequest);
            ASSERT_TRUE(waitFor([&] { return late.count() > 0; }));
        }
        line.onRequest([&](const Bytes&) {
            int delayMs = 0;
            for (const Bytes& piece : row.pieces) {
                QTimer::singleShot(delayMs, [&line = line, piece] { line.send(piece); });
                delayMs += 30;
            }
        });
        const int reportsBefore = finished.count();
        ASSERT_EQ(engine.submit(&window, readOf(1)), ReadStart::Accepted);
        ASSERT_TRUE(waitForReports(reportsBefore + 1));
        const ReadingRecord result = report(reportsBefore);
        ASSERT_EQ(result.status, ReadingRecord::Status::Completed);
        EXPECT_EQ(result.outcome.kind, row.kind) << hex(result.outcome.received).toStdString();
        EXPECT_EQ(result.outcome.flowText, row.flow);
        EXPECT_EQ(result.outcome.totalText, row.total);
        if (row.kind == ReadOutcome::Kind::Decoded) {
            EXPECT_TRUE(result.outcome.checkValueOk);
        }
    }
}

TEST_F(ExchangeOnPty, ReadsQueueOneAtATimeAndAReservationKeepsOthersWaiting) {
    // One instrument on the bus, at address 5, answering whatever it hears.
    answerWith(encodeReply(5, Reading{123456, 2, 0, 12345678, 3}));
    QObject search;
    engine.reserve(&search);
    ASSERT_EQ(engine.submit(&window, readOf(7)), ReadStart::Accepted);
    // The window's newer read replaces the one it left waiting.
    ASSERT_EQ(engine.submit(&window, readOf(2)), ReadStart::Accepted);
    ASSERT_EQ(engine.submit(&search, readOf(5, ReplyWait::CompleteReply)), ReadStart::Accepted);
    ASSERT_TRUE(waitForReports(1));
    runEventsFor(300);
    ASSERT_EQ(finished.count(), 1) << "the window's read went out during the reservation";
    EXPECT_EQ(report(0).address, 5);
    EXPECT_EQ(finished.at(0).at(1).value<const QObject*>(), &search);

    engine.release(&search);
    ASSERT_TRUE(waitForReports(2));
    runEventsFor(300);
    ASSERT_EQ(finished.count(), 2);
    const ReadingRecord windowRead = report(1);
    EXPECT_EQ(windowRead.address, 2);
    // The window keeps showing a reply from another address, flagged; it is no reading.
    EXPECT_EQ(windowRead.outcome.kind, ReadOutcome::Kind::Decoded);
    EXPECT_EQ(windowRead.outcome.finding, ReadOutcome::Finding::WrongHeader);
    EXPECT_EQ(hex(line.received()), hex(Bytes{0x05, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF5, 0xB3,
                                              0x02, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x04}));
}

TEST_F(ExchangeOnPty, WaitsTheSettleTimeOrUntilTheReplyIsComplete) {
    answerWith(kReply);
    const struct {
        ReplyWait wait;
        bool endsEarly;
    } cases[] = {{ReplyWait::SettleTime, false}, {ReplyWait::CompleteReply, true}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.endsEarly);
        ExchangeOrder order = readOf(1, row.wait);
        order.timeout = std::chrono::milliseconds(3000);
        const int reportsBefore = finished.count();
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(engine.submit(&window, order), ReadStart::Accepted);
        ASSERT_TRUE(waitFor([&] { return finished.count() > reportsBefore; }, 10000));
        EXPECT_EQ(clock.elapsed() < 3000, row.endsEarly) << clock.elapsed() << " ms";
        const ReadingRecord result = report(reportsBefore);
        EXPECT_TRUE(result.outcome.isReading());
        // Either way the latency runs to the reply's last byte, not to the end of the wait.
        ASSERT_TRUE(result.latencyMs);
        EXPECT_LT(*result.latencyMs, 2500.0);
    }
}

TEST_F(ExchangeOnPty, ClosingOrSwitchingDuringTheWaitEndsTheExchangeWithoutTakingInput) {
    InstrumentEnd otherLine;
    ScopedComPort com2(2, otherLine.devicePath());
    answerWith(kReply);

    struct Case {
        const char* name;
        std::function<void()> interrupt;
        bool openAfterwards;
    };
    const Case cases[] = {
        {"close", [&] { port.close(); }, false},
        {"switch port", [&] { port.switchPort(1); }, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(port.switchPort(0)) << text(port.lastError().message());
        const int reportsBefore = finished.count();
        ASSERT_EQ(engine.submit(&window, readOf(1)), ReadStart::Accepted);
        // Let the instrument answer; the reply must not be taken.
        ASSERT_TRUE(waitFor([&] { return line.received().size() >= 8; }));
        runEventsFor(30);
        row.interrupt();

        ASSERT_EQ(finished.count(), reportsBefore + 1);
        const ReadingRecord result = report(reportsBefore);
        EXPECT_EQ(result.status, ReadingRecord::Status::Interrupted);
        EXPECT_EQ(result.address, 1);
        EXPECT_EQ(result.device, line.devicePath().toStdString());
        EXPECT_TRUE(result.outcome.received.empty());
        EXPECT_EQ(port.PortOpen(), row.openAfterwards);

        runEventsFor(settleTimeMs(1200) + 300);
        EXPECT_EQ(finished.count(), reportsBefore + 1);
    }
    EXPECT_TRUE(otherLine.received().empty());
}

TEST_F(ExchangeOnPty, RefusedReadsSendNothing) {
    EXPECT_EQ(engine.submit(&window, readOf(-1)), ReadStart::AddressOutOfRange);
    EXPECT_EQ(engine.submit(&window, readOf(129)), ReadStart::AddressOutOfRange);

    port.close();
    EXPECT_EQ(engine.submit(&window, readOf(1)), ReadStart::PortClosed);
    EXPECT_FALSE(port.setOutput(QByteArray("\x01", 1)));
    EXPECT_EQ(port.lastError().kind, PortError::Kind::NotOpen);
    EXPECT_EQ(port.lastError().message(), line.devicePath() + ": port not open (nothing was sent)");
    EXPECT_TRUE(port.Input().isEmpty());
    EXPECT_EQ(port.InBufferCount(), 0);

    runEventsFor(300);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(line.received().empty());
}

TEST(ExchangeEngine, PeerHangingUpMidExchangeIsReportedOnceAndTheDeviceCanBeReopened) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString link = directory.filePath("com1");
    auto first = std::make_unique<InstrumentEnd>();
    ASSERT_EQ(
        ::symlink(first->devicePath().toLocal8Bit().constData(), link.toLocal8Bit().constData()),
        0);
    ScopedComPort com1(1, link);

    CommControl port;
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    ExchangeEngine engine(port);
    QSignalSpy finished(&engine, &ExchangeEngine::finished);
    QSignalSpy lost(&port, &CommControl::portLost);
    QSignalSpy openChanges(&port, &CommControl::portOpenChanged);

    first->onRequest([&](const Bytes&) { first->hangUp(); });
    ASSERT_EQ(engine.submit(&port, readOf(1)), ReadStart::Accepted);
    ASSERT_TRUE(waitFor([&] { return finished.count() >= 1; }));
    // A dead device keeps raising errors for as long as it stays open.
    runEventsFor(500);

    ASSERT_EQ(finished.count(), 1);
    const ReadingRecord interrupted = recordAt(finished, 0);
    EXPECT_EQ(interrupted.status, ReadingRecord::Status::Interrupted);
    EXPECT_NE(interrupted.problem.find("port lost while open"), std::string::npos);
    ASSERT_EQ(lost.count(), 1);
    const PortError error = qvariant_cast<PortError>(lost.at(0).at(0));
    EXPECT_EQ(error.kind, PortError::Kind::Lost);
    EXPECT_TRUE(error.message().startsWith(link + ": port lost while open"))
        << text(error.message());
    EXPECT_FALSE(port.PortOpen());
    ASSERT_EQ(openChanges.count(), 1);
    EXPECT_FALSE(openChanges.at(0).at(0).toBool());
    EXPECT_EQ(engine.submit(&port, readOf(1)), ReadStart::PortClosed);

    // The device comes back under the same name.
    first.reset();
    InstrumentEnd second;
    second.onRequest([&](const Bytes&) { second.send(kReply); });
    ASSERT_EQ(::unlink(link.toLocal8Bit().constData()), 0);
    ASSERT_EQ(
        ::symlink(second.devicePath().toLocal8Bit().constData(), link.toLocal8Bit().constData()),
        0);
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    ASSERT_EQ(engine.submit(&port, readOf(1)), ReadStart::Accepted);
    ASSERT_TRUE(waitFor([&] { return finished.count() >= 2; }));
    const ReadingRecord result = recordAt(finished, 1);
    EXPECT_EQ(result.outcome.kind, ReadOutcome::Kind::Decoded);
    EXPECT_EQ(lost.count(), 1);
}

} // namespace
} // namespace darq
