#include "read/diagnosis.h"

#include "protocol/reply.h"

#include <algorithm>

namespace darq {

namespace {

bool startsWithEcho(const Bytes& request, const Bytes& received) {
    return !request.empty() && received.size() >= request.size() &&
           std::equal(request.begin(), request.end(), received.begin());
}

} // namespace

std::optional<Diagnosis> diagnose(const Bytes& request, const Bytes& received) {
    if (received.empty()) {
        return Diagnosis::Silence;
    }
    if (startsWithEcho(request, received)) {
        return received.size() == request.size() ? Diagnosis::EchoOnly : Diagnosis::EchoThenOther;
    }
    if (received.size() != kReplyLength) {
        return Diagnosis::WrongLength;
    }
    if (!decodeReply(received).checkValueOk) {
        return Diagnosis::BadCheckValue;
    }
    return std::nullopt;
}

std::string diagnosisText(Diagnosis diagnosis, const Bytes& request, const Bytes& received) {
    switch (diagnosis) {
    case Diagnosis::Silence:
        return "nothing came back: check the wiring, the address, the rate and the instrument's "
               "power";
    case Diagnosis::EchoOnly:
        return "only the echo of our own request came back: the RS-485 adapter echoes what it "
               "sends, and the instrument did not answer (wiring, address, rate, power)";
    case Diagnosis::EchoThenOther:
        return "the echo of our own request came back, then " +
               std::to_string(received.size() - request.size()) +
               " more bytes: the RS-485 adapter echoes what it sends; turn its echo off";
    case Diagnosis::WrongLength:
        return std::to_string(received.size()) +
               " bytes came back, not 17: wrong rate or stop bits, noise, or two devices answering";
    case Diagnosis::BadCheckValue:
        return "the 17-byte reply has a wrong check value: noise on the line or a wrong rate";
    }
    return {};
}

} // namespace darq
