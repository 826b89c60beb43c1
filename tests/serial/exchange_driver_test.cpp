#include "instrument_end.h"
#include "protocol/read_exchange.h"
#include "serial/comm_control.h"
#include "serial/exchange_driver.h"

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

class ExchangeOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open()) << text(port.lastError().message()); }

    ExchangeReport report(int index) const {
        return qvariant_cast<ExchangeReport>(finished.at(index).at(0));
    }
    bool waitForReports(int count) {
        return waitFor([&] { return finished.count() >= count; });
    }
    void answerWith(const Bytes& reply) {
        line.onRequest([this, reply](const Bytes&) { line.send(reply); });
    }

    InstrumentEnd line;
    ScopedComPort com1{1, line.devicePath()};
    CommControl port;
    ExchangeDriver driver{port};
    QSignalSpy finished{&driver, &ExchangeDriver::finished};
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
        ASSERT_EQ(driver.startRead(row.address), ReadStart::Started);
        // The settle time counts from the request handed to the device, not merely queued.
        line.readNow();
        EXPECT_EQ(hex(slice(line.received(), before, line.received().size())), hex(row.request));
        ASSERT_TRUE(waitForReports(reportsBefore + 1));
        const ExchangeReport result = report(reportsBefore);
        EXPECT_EQ(result.status, ExchangeReport::Status::Completed);
        EXPECT_EQ(result.address, row.address);
        EXPECT_EQ(result.device, line.devicePath());
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
            const qint64 droppedBefore = port.droppedByteCount();
            line.send(row.waitingBeforeRequest);
            ASSERT_TRUE(waitFor([&] {
                return port.droppedByteCount() - droppedBefore ==
                       static_cast<qint64>(row.waitingBeforeRequest.size());
            }));
        }
        line.onRequest([&](const Bytes&) {
            int delayMs = 0;
            for (const Bytes& piece : row.pieces) {
                QTimer::singleShot(delayMs, [&line = line, piece] { line.send(piece); });
                delayMs += 30;
            }
        });
        const int reportsBefore = finished.count();
        ASSERT_EQ(driver.startRead(1), ReadStart::Started);
        ASSERT_TRUE(waitForReports(reportsBefore + 1));
        const ExchangeReport result = report(reportsBefore);
        ASSERT_EQ(result.status, ExchangeReport::Status::Completed);
        EXPECT_EQ(result.outcome.kind, row.kind) << hex(result.outcome.received).toStdString();
        EXPECT_EQ(result.outcome.flowText, row.flow);
        EXPECT_EQ(result.outcome.totalText, row.total);
        if (row.kind == ReadOutcome::Kind::Decoded) {
            EXPECT_TRUE(result.outcome.checkValueOk);
        }
    }
}

TEST_F(ExchangeOnPty, ReadAskedForDuringAnotherIsRefusedAndLeavesTheFirstIntact) {
    answerWith(kReply);
    ASSERT_EQ(driver.startRead(1), ReadStart::Started);
    EXPECT_EQ(driver.startRead(2), ReadStart::Busy);
    EXPECT_TRUE(driver.isBusy());

    ASSERT_TRUE(waitForReports(1));
    runEventsFor(driver.settleTimeMs() + 300);
    ASSERT_EQ(finished.count(), 1);
    const ExchangeReport result = report(0);
    EXPECT_EQ(result.address, 1);
    EXPECT_EQ(result.outcome.kind, ReadOutcome::Kind::Decoded);
    EXPECT_EQ(result.outcome.flowText, "1234.56");
    EXPECT_EQ(hex(line.received()), hex(kRequestForAddress1));
    EXPECT_FALSE(driver.isBusy());
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
        ASSERT_EQ(driver.startRead(1), ReadStart::Started);
        // Let the instrument answer; the reply must not be taken.
        ASSERT_TRUE(waitFor([&] { return port.InBufferCount() > 0; }));
        row.interrupt();

        ASSERT_EQ(finished.count(), reportsBefore + 1);
        const ExchangeReport result = report(reportsBefore);
        EXPECT_EQ(result.status, ExchangeReport::Status::PortClosed);
        EXPECT_EQ(result.address, 1);
        EXPECT_EQ(result.device, line.devicePath());
        EXPECT_FALSE(driver.isBusy());
        EXPECT_EQ(port.PortOpen(), row.openAfterwards);

        runEventsFor(driver.settleTimeMs() + 300);
        EXPECT_EQ(finished.count(), reportsBefore + 1);
    }
    EXPECT_TRUE(otherLine.received().empty());
}

TEST_F(ExchangeOnPty, RefusedReadsSendNothing) {
    EXPECT_EQ(driver.startRead(-1), ReadStart::AddressOutOfRange);
    EXPECT_EQ(driver.startRead(129), ReadStart::AddressOutOfRange);

    port.close();
    EXPECT_EQ(driver.startRead(1), ReadStart::PortClosed);
    EXPECT_FALSE(port.setOutput(QByteArray("\x01", 1)));
    EXPECT_EQ(port.lastError().kind, PortError::Kind::NotOpen);
    EXPECT_EQ(port.lastError().message(), line.devicePath() + ": port not open (nothing was sent)");
    EXPECT_TRUE(port.Input().isEmpty());
    EXPECT_EQ(port.InBufferCount(), 0);

    runEventsFor(300);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(line.received().empty());
}

TEST(ExchangeDriver, PeerHangingUpMidExchangeIsReportedOnceAndTheDeviceCanBeReopened) {
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
    ExchangeDriver driver(port);
    QSignalSpy finished(&driver, &ExchangeDriver::finished);
    QSignalSpy lost(&port, &CommControl::portLost);
    QSignalSpy openChanges(&port, &CommControl::portOpenChanged);

    first->onRequest([&](const Bytes&) { first->hangUp(); });
    ASSERT_EQ(driver.startRead(1), ReadStart::Started);
    ASSERT_TRUE(waitFor([&] { return finished.count() >= 1; }));
    // A dead device keeps raising errors for as long as it stays open.
    runEventsFor(500);

    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(qvariant_cast<ExchangeReport>(finished.at(0).at(0)).status,
              ExchangeReport::Status::PortClosed);
    ASSERT_EQ(lost.count(), 1);
    const PortError error = qvariant_cast<PortError>(lost.at(0).at(0));
    EXPECT_EQ(error.kind, PortError::Kind::Lost);
    EXPECT_TRUE(error.message().startsWith(link + ": port lost while open"))
        << text(error.message());
    EXPECT_FALSE(port.PortOpen());
    ASSERT_EQ(openChanges.count(), 1);
    EXPECT_FALSE(openChanges.at(0).at(0).toBool());
    EXPECT_EQ(driver.startRead(1), ReadStart::PortClosed);

    // The device comes back under the same name.
    first.reset();
    InstrumentEnd second;
    second.onRequest([&](const Bytes&) { second.send(kReply); });
    ASSERT_EQ(::unlink(link.toLocal8Bit().constData()), 0);
    ASSERT_EQ(
        ::symlink(second.devicePath().toLocal8Bit().constData(), link.toLocal8Bit().constData()),
        0);
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    ASSERT_EQ(driver.startRead(1), ReadStart::Started);
    ASSERT_TRUE(waitFor([&] { return finished.count() >= 2; }));
    const ExchangeReport result = qvariant_cast<ExchangeReport>(finished.at(1).at(0));
    EXPECT_EQ(result.outcome.kind, ReadOutcome::Kind::Decoded);
    EXPECT_EQ(lost.count(), 1);
}

TEST(CommControlSettleWait, BlockingExchangeCollectsTheReply) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    line.answerOnOwnThread(kReply);

    const ExchangeResult result = runReadExchange(port, 1, 500);
    line.joinOwnThread();

    ASSERT_EQ(result.status, ExchangeStatus::Completed);
    EXPECT_EQ(result.outcome.kind, ReadOutcome::Kind::Decoded);
    EXPECT_EQ(result.outcome.flowText, "1234.56");
    EXPECT_EQ(result.outcome.totalText, "12345.678");
    EXPECT_EQ(hex(line.received()), hex(kRequestForAddress1));
}

} // namespace
} // namespace darq
