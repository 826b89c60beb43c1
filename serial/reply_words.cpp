#include "serial/reply_words.h"

#include <QCoreApplication>
#include <QStringList>

namespace darq {

namespace {

QString words(const char* source) {
    return QCoreApplication::translate("ReplyWords", source);
}

QString exceptionMeaning(std::uint8_t code) {
    switch (code) {
    case 0x01:
        return words("illegal function");
    case 0x02:
        return words("illegal data address");
    case 0x03:
        return words("illegal data value");
    case 0x04:
        return words("server device failure");
    case 0x05:
        return words("acknowledge");
    case 0x06:
        return words("server device busy");
    case 0x08:
        return words("memory parity error");
    case 0x0A:
        return words("gateway path unavailable");
    case 0x0B:
        return words("gateway target device failed to respond");
    default:
        return words("not a standard exception code");
    }
}

QString headerDifferences(const ReplyExplanation& explanation) {
    QStringList differences;
    if (explanation.otherAddress) {
        differences << words("it comes from address %1").arg(*explanation.otherAddress);
    }
    if (explanation.otherFunction) {
        differences << words("its function is %1, not 3").arg(*explanation.otherFunction);
    }
    if (explanation.otherByteCount) {
        differences << words("it announces %1 data bytes, not 12").arg(*explanation.otherByteCount);
    }
    return differences.join(QStringLiteral(", "));
}

} // namespace

QString exceptionText(std::uint8_t code) {
    return QStringLiteral("%1 ").arg(code, 2, 16, QLatin1Char('0')).toUpper() +
           exceptionMeaning(code);
}

QString explanationText(const ReplyExplanation& explanation, WordsFor reader) {
    using Finding = ReplyExplanation::Finding;
    const QString replyBytes = QString::number(explanation.replyLength);
    switch (explanation.finding) {
    case Finding::Clean:
        return {};
    case Finding::Silence:
        return words("nothing came back: check the wiring, the address, the rate and the "
                     "instrument's power");
    case Finding::EchoOnly:
        return words("only the echo of our own request came back: the RS-485 adapter echoes what "
                     "it sends, and the instrument did not answer (wiring, address, rate, power)");
    case Finding::Exception:
        return words("the instrument refused the read with Modbus exception %1: it is there, but "
                     "does not offer these registers this way")
            .arg(exceptionText(*explanation.exceptionCode));
    case Finding::CutOff:
        return reader == WordsFor::CommandLine
                   ? words("%1 bytes came back and more were still arriving when the wait ended: "
                           "raise --timeout")
                         .arg(replyBytes)
                   : words("%1 bytes came back and more were still arriving when the wait ended: "
                           "the instrument answers too slowly for the window's wait")
                         .arg(replyBytes);
    case Finding::WrongLength:
        return (explanation.echoRemoved
                    ? words("the echo of our own request came back, then %1 bytes, not 17: wrong "
                            "rate or stop bits, noise, or two devices answering")
                    : words("%1 bytes came back, not 17: wrong rate or stop bits, noise, or two "
                            "devices answering"))
            .arg(replyBytes);
    case Finding::BadCheckValue:
        return words("the 17-byte reply has a wrong check value: noise on the line or a wrong "
                     "rate");
    case Finding::WrongHeader:
        return words("the 17-byte reply is not the answer to this request: %1; another device "
                     "answered, or two share the address")
            .arg(headerDifferences(explanation));
    }
    return {};
}

} // namespace darq
