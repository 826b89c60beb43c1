#include "protocol/reply_explanation.h"

#include "protocol/crc16.h"
#include "protocol/read_request.h"

namespace darq {

namespace {

// An exception answer: the address, the function with its top bit set, the code, the check value.
constexpr std::size_t kExceptionLength = 5;
constexpr std::uint8_t kExceptionFlag = 0x80;

bool isExceptionAnswer(const Bytes& reply) {
    return reply.size() == kExceptionLength &&
           reply[1] == (kReadRegistersFunction | kExceptionFlag) && endsWithValidCheckValue(reply);
}

void compareHeader(const Bytes& request, const Bytes& reply, ReplyExplanation& explanation) {
    if (!request.empty() && reply[0] != request[0]) {
        explanation.otherAddress = reply[0];
    }
    if (reply[1] != kReadRegistersFunction) {
        explanation.otherFunction = reply[1];
    }
    if (reply[2] != kReplyDataByteCount) {
        explanation.otherByteCount = reply[2];
    }
    explanation.headerOk =
        !explanation.otherAddress && !explanation.otherFunction && !explanation.otherByteCount;
}

} // namespace

ReplyExplanation explainReply(const Bytes& request, const ReadOutcome& outcome,
                              bool stillArriving) {
    using Finding = ReplyExplanation::Finding;
    ReplyExplanation explanation;
    const Bytes reply = outcome.reply();
    explanation.replyLength = reply.size();
    explanation.echoRemoved = outcome.echoRemoved;
    if (reply.empty()) {
        explanation.finding = outcome.echoRemoved ? Finding::EchoOnly : Finding::Silence;
    } else if (isExceptionAnswer(reply)) {
        explanation.finding = Finding::Exception;
        explanation.exceptionCode = reply[2];
    } else if (reply.size() != kReplyLength) {
        explanation.finding =
            stillArriving && reply.size() < kReplyLength ? Finding::CutOff : Finding::WrongLength;
    } else {
        compareHeader(request, reply, explanation);
        explanation.finding = !outcome.checkValueOk    ? Finding::BadCheckValue
                              : !*explanation.headerOk ? Finding::WrongHeader
                                                       : Finding::Clean;
    }
    return explanation;
}

} // namespace darq
