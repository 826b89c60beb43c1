#include "serial/reply_words.h"

#include "protocol/bytes.h"

#include <QCoreApplication>
#include <QStringList>

namespace darq {

namespace {

struct ReplyWords {
    Q_DECLARE_TR_FUNCTIONS(ReplyWords)
};

QString exceptionMeaning(std::uint8_t code) {
    switch (code) {
    case 0x01:
        return ReplyWords::tr("illegal function");
    case 0x02:
        return ReplyWords::tr("illegal data address");
    case 0x03:
        return ReplyWords::tr("illegal data value");
    case 0x04:
        return ReplyWords::tr("server device failure");
    case 0x05:
        return ReplyWords::tr("acknowledge");
    case 0x06:
        return ReplyWords::tr("server device busy");
    case 0x08:
        return ReplyWords::tr("memory parity error");
    case 0x0A:
        return ReplyWords::tr("gateway path unavailable");
    case 0x0B:
        return ReplyWords::tr("gateway target device failed to respond");
    default:
        return ReplyWords::tr("not a standard exception code");
    }
}

QString headerDifferences(const ReplyExplanation& explanation) {
    QStringList differences;
    if (explanation.otherAddress) {
        differences << ReplyWords::tr("it comes from address %1").arg(*explanation.otherAddress);
    }
    if (explanation.otherFunction) {
        differences << ReplyWords::tr("its function is %1, not 3").arg(*explanation.otherFunction);
    }
    if (explanation.otherByteCount) {
        differences << ReplyWords::tr("it announces %1 data bytes, not 12")
                           .arg(*explanation.otherByteCount);
    }
    return differences.join(QStringLiteral(", "));
}

} // namespace

QString exceptionText(std::uint8_t code) {
    return QString::fromStdString(hexText({code})) + QLatin1Char(' ') + exceptionMeaning(code);
}

QString explanationText(const ReplyExplanation& explanation, WordsFor reader) {
    using Finding = ReplyExplanation::Finding;
    const QString replyBytes = QString::number(explanation.replyLength);
    switch (explanation.finding) {
    case Finding::Clean:
        return {};
    case Finding::Silence:
        return ReplyWords::tr("nothing came back: check the wiring, the address, the rate and the "
                              "instrument's power");
    case Finding::EchoOnly:
        return ReplyWords::tr(
            "only the echo of our own request came back: the RS-485 adapter echoes what "
            "it sends, and the instrument did not answer (wiring, address, rate, power)");
    case Finding::Exception:
        return ReplyWords::tr(
                   "the instrument refused the read with Modbus exception %1: it is there, but "
                   "does not offer these registers this way")
            .arg(exceptionText(*explanation.exceptionCode));
    case Finding::CutOff:
        return reader == WordsFor::CommandLine
                   ? ReplyWords::tr(
                         "%1 bytes came back and more were still arriving when the wait ended: "
                         "raise --timeout")
                         .arg(replyBytes)
                   : ReplyWords::tr(
                         "%1 bytes came back and more were still arriving when the wait ended: "
                         "the instrument answers too slowly for the window's wait")
                         .arg(replyBytes);
    case Finding::WrongLength:
        return (explanation.echoRemoved
                    ? ReplyWords::tr(
                          "the echo of our own request came back, then %1 bytes, not 17: wrong "
                          "rate or stop bits, noise, or two devices answering")
                    : ReplyWords::tr(
                          "%1 bytes came back, not 17: wrong rate or stop bits, noise, or two "
                          "devices answering"))
            .arg(replyBytes);
    case Finding::BadCheckValue:
        return ReplyWords::tr(
            "the 17-byte reply has a wrong check value: noise on the line or a wrong "
            "rate");
    case Finding::WrongHeader:
        return ReplyWords::tr(
                   "the 17-byte reply is not the answer to this request: %1; another device "
                   "answered, or two share the address")
            .arg(headerDifferences(explanation));
    }
    return {};
}

} // namespace darq
