#include "protocol/line_timing.h"
#include "protocol/read_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace darq {
namespace {

// A port that records what the exchange asks of it and hands back a scripted reply.
class RecordingPort : public PortOperations {
public:
    explicit RecordingPort(Bytes reply, bool sendWorks = true)
        : reply_(std::move(reply)), sendWorks_(sendWorks) {}

    void discardReceiveBuffer() override { calls.push_back("discard"); }
    bool send(const Bytes& frame) override {
        calls.push_back("send");
        sent.push_back(frame);
        return sendWorks_;
    }
    void settleWait(int milliseconds) override {
        calls.push_back("wait " + std::to_string(milliseconds));
    }
    Bytes takeInput() override {
        calls.push_back("take");
        return reply_;
    }

    std::vector<std::string> calls;
    std::vector<Bytes> sent;

private:
    Bytes reply_;
    bool sendWorks_;
};

TEST(ReadExchange, RunsThePortOperationsInOrder) {
    const Bytes reply = encodeReply(1, Reading{123456, 2, 0, 12345678, 3});
    const struct {
        const char* name;
        Bytes reply;
        ReadOutcome::Kind kind;
    } cases[] = {
        {"silence", {}, ReadOutcome::Kind::NoData},
        {"short reply", Bytes(reply.begin(), reply.end() - 1), ReadOutcome::Kind::Ignored},
        {"whole reply", reply, ReadOutcome::Kind::Decoded},
        {"reply and a stray byte",
         [&] {
             Bytes longer = reply;
             longer.push_back(0);
             return longer;
         }(),
         ReadOutcome::Kind::Ignored},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPort port(c.reply);
        const ExchangeResult result = runReadExchange(port, 1, 100);
        ASSERT_EQ(result.status, ExchangeStatus::Completed);
        EXPECT_EQ(port.calls, (std::vector<std::string>{"discard", "send", "wait 100", "take"}));
        ASSERT_EQ(port.sent.size(), 1u);
        EXPECT_EQ(port.sent[0], (Bytes{0x01, 0x03, 0x01, 0x03, 0x00, 0x03, 0xF4, 0x37}));
        EXPECT_EQ(result.outcome.kind, c.kind);
        EXPECT_EQ(result.outcome.received, c.reply);
    }
}

TEST(ReadExchange, DecodesTheWorkedReply) {
    RecordingPort port(encodeReply(1, Reading{123456, 2, 7, 12345678, 3}));
    const ExchangeResult result = runReadExchange(port, 1, 100);
    EXPECT_EQ(result.outcome.flowText, "1234.56");
    EXPECT_EQ(result.outcome.totalText, "712345.678");
}

TEST(ReadExchange, RefusesAnAddressOffTheBusWithoutTouchingThePort) {
    for (int address : {-1, 129}) {
        RecordingPort port({});
        EXPECT_EQ(runReadExchange(port, address, 100).status, ExchangeStatus::AddressOutOfRange);
        EXPECT_TRUE(port.calls.empty());
    }
}

TEST(SettleTime, CoversTheExchangeOnTheWireAndATurnaroundButNeverUnder100Ms) {
    // 25 bytes of 11 bits, rounded up, plus 50 ms; at 9600 Bd that is less than the floor.
    const std::pair<int, int> cases[] = {{9600, 100}, {4800, 108}, {2400, 165}, {1200, 280}};
    for (const auto& [rate, settleMs] : cases) {
        EXPECT_EQ(settleTimeMs(rate), settleMs) << rate;
    }
}

TEST(ReadExchange, AFailedSendWaitsForNoReply) {
    RecordingPort port(encodeReply(1, Reading{}), false);
    EXPECT_EQ(runReadExchange(port, 1, 100).status, ExchangeStatus::SendFailed);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"discard", "send"}));
}

} // namespace
} // namespace darq
