#include "instrument_end.h"
#include "serial/comm_control.h"
#include "serial/exchange_engine.h"
#include "sim_process.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace darq {
namespace {

using testing::ScopedComPort;
using testing::SimProcess;
using testing::waitFor;

// The virtual instrument paces its pseudo-terminal like a wire at the rate the control set, so a
// settle time too short for the rate loses the reply's tail.
TEST(ExchangeWithVirtualInstrument, ReadingDecodesAtEveryRateWithPacing) {
    struct Case {
        int ratePosition;
        int baudRate;
    };
    const Case cases[] = {{0, 1200}, {1, 2400}, {2, 4800}, {3, 9600}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.baudRate);
        SimProcess sim({"--address", "5", "--flow", "123456", "--flow-decimals", "2",
                        "--total-high", "7", "--total-low", "12345678", "--total-decimals", "3"});
        ScopedComPort com1(1, QString::fromStdString(sim.devicePath()));
        CommControl port;
        ASSERT_TRUE(port.applyRate(row.ratePosition));
        ASSERT_TRUE(port.open()) << port.lastError().message().toStdString();
        ASSERT_EQ(port.baudRate(), row.baudRate);

        ExchangeEngine engine(port);
        QSignalSpy finished(&engine, &ExchangeEngine::finished);
        ExchangeOrder order;
        order.address = 5;
        ASSERT_EQ(engine.submit(&port, order), ReadStart::Accepted);
        ASSERT_TRUE(waitFor([&] { return finished.count() == 1; }));

        const ReadingRecord report = qvariant_cast<ReadingRecord>(finished.at(0).at(0));
        ASSERT_EQ(report.status, ReadingRecord::Status::Completed);
        EXPECT_EQ(report.outcome.kind, ReadOutcome::Kind::Decoded)
            << testing::hex(report.outcome.received).toStdString() << "\n"
            << sim.log();
        EXPECT_EQ(report.outcome.flowText, "1234.56");
        EXPECT_EQ(report.outcome.totalText, "712345.678");
        EXPECT_TRUE(report.outcome.checkValueOk);
    }
}

} // namespace
} // namespace darq
