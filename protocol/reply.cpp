#include "protocol/reply.h"

#include "protocol/crc16.h"
#include "protocol/decimal_point.h"
#include "protocol/read_request.h"

#include <algorithm>

namespace darq {

namespace {

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

ReadOutcome decodeReply(const Bytes& received) {
    ReadOutcome outcome;
    outcome.received = received;
    if (received.empty()) {
        outcome.kind = ReadOutcome::Kind::NoData;
        return outcome;
    }
    if (received.size() != kReplyLength) {
        outcome.kind = ReadOutcome::Kind::Ignored;
        return outcome;
    }
    Reading reading;
    reading.flow = signed32(bigEndian32(received, 3));
    reading.flowDecimals = received[7];
    reading.totalHigh = static_cast<std::uint16_t>(received[8] << 8 | received[9]);
    reading.totalLow = signed32(bigEndian32(received, 10));
    reading.totalDecimals = received[14];

    outcome.kind = ReadOutcome::Kind::Decoded;
    outcome.checkValueOk = endsWithValidCheckValue(received);
    outcome.flowText = flowText(reading);
    outcome.totalText = totalText(reading);
    outcome.reading = reading;
    return outcome;
}

Bytes ReadOutcome::reply() const {
    return echoRemoved ? Bytes(received.begin() + kRequestLength, received.end()) : received;
}

ReadOutcome decodeAnswer(const Bytes& request, const Bytes& received) {
    const bool echoed = request.size() == kRequestLength && received.size() >= request.size() &&
                        std::equal(request.begin(), request.end(), received.begin());
    if (!echoed) {
        return decodeReply(received);
    }
    ReadOutcome outcome = decodeReply(Bytes(received.begin() + kRequestLength, received.end()));
    outcome.received = received;
    outcome.echoRemoved = true;
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
