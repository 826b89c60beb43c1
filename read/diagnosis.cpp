#include "read/diagnosis.h"

namespace darq {

std::optional<Diagnosis> diagnose(const ReadOutcome& outcome) {
    switch (outcome.kind) {
    case ReadOutcome::Kind::NoData:
        return outcome.echoRemoved ? Diagnosis::EchoOnly : Diagnosis::Silence;
    case ReadOutcome::Kind::Ignored:
        return outcome.echoRemoved ? Diagnosis::EchoThenOther : Diagnosis::WrongLength;
    case ReadOutcome::Kind::Decoded:
        break;
    }
    if (!outcome.checkValueOk) {
        return Diagnosis::BadCheckValue;
    }
    return std::nullopt;
}

std::string diagnosisText(Diagnosis diagnosis, const ReadOutcome& outcome) {
    const std::string replyBytes = std::to_string(outcome.reply().size());
    switch (diagnosis) {
    case Diagnosis::Silence:
        return "nothing came back: check the wiring, the address, the rate and the instrument's "
               "power";
    case Diagnosis::EchoOnly:
        return "only the echo of our own request came back: the RS-485 adapter echoes what it "
               "sends, and the instrument did not answer (wiring, address, rate, power)";
    case Diagnosis::EchoThenOther:
        return "the echo of our own request came back, then " + replyBytes +
               " bytes, not 17: wrong rate or stop bits, noise, or two devices answering";
    case Diagnosis::WrongLength:
        return replyBytes +
               " bytes came back, not 17: wrong rate or stop bits, noise, or two devices answering";
    case Diagnosis::BadCheckValue:
        return "the 17-byte reply has a wrong check value: noise on the line or a wrong rate";
    }
    return {};
}

} // namespace darq
