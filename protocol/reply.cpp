#include "protocol/reply.h"

#include "protocol/crc16.h"
#include "protocol/decimal_point.h"
#include "protocol/read_request.h"

#include <algorithm>

namespace darq {

namespace {

// An exception answer: the address, the function with its top bit set, the code, the check value.
constexpr std::size_t kExceptionLength = 5;
constexpr std::uint8_t kExceptionFlag = 0x80;

std::uint32_t bigEndian32(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) << 24 |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 3]);
}

std::int32_t signed32(std::uint32_t value) {
    // Two's complement without relying on implementation-defined narrowing.
    return value <= 0x7FFFFFFFu ? static_cast<std::int32_t>(value)
                                : -static_cast<std::int32_t>(~value) - 1;
}

void appendBigEndian32(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

bool isExceptionAnswer(const Bytes& reply) {
    return reply.size() == kExceptionLength &&
           reply[1] == (kReadRegistersFunction | kExceptionFlag) && endsWithValidCheckValue(reply);
}

void decode(const Bytes& reply, ReadOutcome& outcome) {
    Reading reading;
    reading.flow = signed32(bigEndian32(reply, 3));
    reading.flowDecimals = reply[7];
    reading.totalHigh = static_cast<std::uint16_t>(reply[8] << 8 | reply[9]);
    reading.totalLow = signed32(bigEndian32(reply, 10));
    reading.totalDecimals = reply[14];
    outcome.kind = ReadOutcome::Kind::Decoded;
    outcome.checkValueOk = endsWithValidCheckValue(reply);
    outcome.flowText = flowText(reading);
    outcome.totalText = totalText(reading);
    outcome.reading = reading;
}

void compareHeader(const Bytes& request, const Bytes& reply, ReadOutcome& outcome) {
    if (!request.empty() && reply[0] != request[0]) {
        outcome.otherAddress = reply[0];
    }
    if (reply[1] != kReadRegistersFunction) {
        outcome.otherFunction = reply[1];
    }
    if (reply[2] != kReplyDataByteCount) {
        outcome.otherByteCount = reply[2];
    }
    outcome.headerOk = !outcome.otherAddress && !outcome.otherFunction && !outcome.otherByteCount;
}

} // namespace

bool Reading::operator==(const Reading& other) const {
    return flow == other.flow && flowDecimals == other.flowDecimals &&
           totalHigh == other.totalHigh && totalLow == other.totalLow &&
           totalDecimals == other.totalDecimals;
}

std::string flowText(const Reading& reading) {
    return adddot(std::to_string(reading.flow), reading.flowDecimals);
}

std::string totalText(const Reading& reading) {
    const std::string highText = reading.totalHigh == 0 ? "" : std::to_string(reading.totalHigh);
    return highText + adddot(std::to_string(reading.totalLow), reading.totalDecimals);
}

Bytes ReadOutcome::reply() const {
    return echoRemoved ? Bytes(received.begin() + kRequestLength, received.end()) : received;
}

ReadOutcome judgeReply(const Bytes& request, const Bytes& received, bool stillArriving) {
    using Finding = ReadOutcome::Finding;
    ReadOutcome outcome;
    outcome.received = received;
    outcome.echoRemoved = request.size() == kRequestLength && received.size() >= request.size() &&
                          std::equal(request.begin(), request.end(), received.begin());
    const Bytes reply = outcome.reply();
    if (reply.empty()) {
        outcome.kind = ReadOutcome::Kind::NoData;
        outcome.finding = outcome.echoRemoved ? Finding::EchoOnly : Finding::Silence;
    } else if (reply.size() != kReplyLength) {
        outcome.kind = ReadOutcome::Kind::Ignored;
        if (isExceptionAnswer(reply)) {
            outcome.finding = Finding::Exception;
            outcome.exceptionCode = reply[2];
        } else {
            outcome.finding = stillArriving && reply.size() < kReplyLength ? Finding::CutOff
                                                                           : Finding::WrongLength;
        }
    } else {
        decode(reply, outcome);
        compareHeader(request, reply, outcome);
        // A wrong check value comes first: the header may be one of the corrupted bytes.
        outcome.finding = !outcome.checkValueOk ? Finding::BadCheckValue
                          : !*outcome.headerOk  ? Finding::WrongHeader
                                                : Finding::Clean;
    }
    return outcome;
}

Bytes encodeReply(std::uint8_t address, const Reading& reading) {
    Bytes reply = {address, kReadRegistersFunction, kReplyDataByteCount};
    appendBigEndian32(reply, static_cast<std::uint32_t>(reading.flow));
    reply.push_back(reading.flowDecimals);
    reply.push_back(static_cast<std::uint8_t>(reading.totalHigh >> 8));
    reply.push_back(static_cast<std::uint8_t>(reading.totalHigh & 0xFF));
    appendBigEndian32(reply, static_cast<std::uint32_t>(reading.totalLow));
    reply.push_back(reading.totalDecimals);
    const std::uint16_t check = crc16Modbus(reply.data(), reply.size());
    reply.push_back(static_cast<std::uint8_t>(check & 0xFF));
    reply.push_back(static_cast<std::uint8_t>(check >> 8));
    return reply;
}

} // namespace darq
