#include "protocol/reply_words.h"

#include "protocol/bytes.h"

// The window's translation system finds the texts to translate by this mark; here, without Qt,
// the text stays as written.
#define QT_TRANSLATE_NOOP(context, text) text

namespace darq {

namespace {

Words value(std::string text) {
    return {std::move(text), false, {}};
}

Words sentence(const char* text, std::vector<Words> arguments = {}) {
    return {text, true, std::move(arguments)};
}

// One byte, many bytes: the count decides the sentence, so that no reader sees "1 bytes".
Words byteCountSentence(std::size_t count, const char* one, const char* many) {
    return sentence(count == 1 ? one : many, {value(std::to_string(count))});
}

const char* exceptionMeaning(std::uint8_t code) {
    switch (code) {
    case 0x01:
        return QT_TRANSLATE_NOOP("ReplyWords", "illegal function");
    case 0x02:
        return QT_TRANSLATE_NOOP("ReplyWords", "illegal data address");
    case 0x03:
        return QT_TRANSLATE_NOOP("ReplyWords", "illegal data value");
    case 0x04:
        return QT_TRANSLATE_NOOP("ReplyWords", "server device failure");
    case 0x05:
        return QT_TRANSLATE_NOOP("ReplyWords", "acknowledge");
    case 0x06:
        return QT_TRANSLATE_NOOP("ReplyWords", "server device busy");
    case 0x08:
        return QT_TRANSLATE_NOOP("ReplyWords", "memory parity error");
    case 0x0A:
        return QT_TRANSLATE_NOOP("ReplyWords", "gateway path unavailable");
    case 0x0B:
        return QT_TRANSLATE_NOOP("ReplyWords", "gateway target device failed to respond");
    default:
        return QT_TRANSLATE_NOOP("ReplyWords", "not a standard exception code");
    }
}

Words headerDifferences(const ReadOutcome& outcome) {
    std::vector<Words> differences;
    if (outcome.otherAddress) {
        differences.push_back(sentence(QT_TRANSLATE_NOOP("ReplyWords", "it comes from address %1"),
                                       {value(std::to_string(*outcome.otherAddress))}));
    }
    if (outcome.otherFunction) {
        differences.push_back(sentence(QT_TRANSLATE_NOOP("ReplyWords", "its function is %1, not 3"),
                                       {value(std::to_string(*outcome.otherFunction))}));
    }
    if (outcome.otherByteCount) {
        differences.push_back(
            sentence(QT_TRANSLATE_NOOP("ReplyWords", "it announces %1 data bytes, not 12"),
                     {value(std::to_string(*outcome.otherByteCount))}));
    }
    Words list = differences.front();
    for (std::size_t i = 1; i < differences.size(); ++i) {
        list = sentence(QT_TRANSLATE_NOOP("ReplyWords", "%1, %2"), {list, differences[i]});
    }
    return list;
}

} // namespace

std::string render(const Words& words, const Translator& translate) {
    const std::string text =
        words.translatable && translate ? translate(words.text) : words.text;
    std::string rendered;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t argument = i + 1 < text.size() && text[i] == '%'
                                         ? std::size_t(text[i + 1] - '1')
                                         : words.arguments.size();
        if (argument < words.arguments.size()) {
            rendered += render(words.arguments[argument], translate);
            ++i;
        } else {
            rendered += text[i];
        }
    }
    return rendered;
}

Words exceptionWords(std::uint8_t code) {
    return sentence("%1 %2", {value(hexText({code})), sentence(exceptionMeaning(code))});
}

std::optional<Words> explanationWords(const ReadOutcome& outcome, WordsFor reader) {
    using Finding = ReadOutcome::Finding;
    const std::size_t replyBytes = outcome.reply().size();
    switch (outcome.finding) {
    case Finding::Clean:
        return std::nullopt;
    case Finding::Silence:
        return sentence(QT_TRANSLATE_NOOP("ReplyWords",
                                          "nothing came back: check the wiring, the address, the "
                                          "rate and the instrument's power"));
    case Finding::EchoOnly:
        return sentence(QT_TRANSLATE_NOOP(
            "ReplyWords",
            "only the echo of our own request came back: the RS-485 adapter echoes what it sends, "
            "and the instrument did not answer (wiring, address, rate, power)"));
    case Finding::Exception:
        return sentence(QT_TRANSLATE_NOOP("ReplyWords",
                                          "the instrument refused the read with Modbus exception "
                                          "%1: it is there, but does not offer these registers "
                                          "this way"),
                        {exceptionWords(*outcome.exceptionCode)});
    case Finding::CutOff:
        return reader == WordsFor::CommandLine
                   ? byteCountSentence(
                         replyBytes,
                         QT_TRANSLATE_NOOP("ReplyWords",
                                           "%1 byte came back and more were still arriving when "
                                           "the wait ended: raise --timeout"),
                         QT_TRANSLATE_NOOP("ReplyWords",
                                           "%1 bytes came back and more were still arriving when "
                                           "the wait ended: raise --timeout"))
                   : byteCountSentence(
                         replyBytes,
                         QT_TRANSLATE_NOOP("ReplyWords",
                                           "%1 byte came back and more were still arriving when "
                                           "the wait ended: the instrument answers too slowly for "
                                           "the window's wait"),
                         QT_TRANSLATE_NOOP("ReplyWords",
                                           "%1 bytes came back and more were still arriving when "
                                           "the wait ended: the instrument answers too slowly for "
                                           "the window's wait"));
    case Finding::WrongLength:
        return outcome.echoRemoved
                   ? byteCountSentence(replyBytes,
                                       QT_TRANSLATE_NOOP("ReplyWords",
                                                         "the echo of our own request came back, "
                                                         "then %1 byte, not 17: wrong rate or "
                                                         "stop bits, noise, or two devices "
                                                         "answering"),
                                       QT_TRANSLATE_NOOP("ReplyWords",
                                                         "the echo of our own request came back, "
                                                         "then %1 bytes, not 17: wrong rate or "
                                                         "stop bits, noise, or two devices "
                                                         "answering"))
                   : byteCountSentence(replyBytes,
                                       QT_TRANSLATE_NOOP("ReplyWords",
                                                         "%1 byte came back, not 17: wrong rate "
                                                         "or stop bits, noise, or two devices "
                                                         "answering"),
                                       QT_TRANSLATE_NOOP("ReplyWords",
                                                         "%1 bytes came back, not 17: wrong rate "
                                                         "or stop bits, noise, or two devices "
                                                         "answering"));
    case Finding::BadCheckValue:
        return sentence(QT_TRANSLATE_NOOP("ReplyWords",
                                          "the 17-byte reply has a wrong check value: noise on "
                                          "the line or a wrong rate"));
    case Finding::WrongHeader:
        return sentence(QT_TRANSLATE_NOOP("ReplyWords",
                                          "the 17-byte reply is not the answer to this request: "
                                          "%1; another device answered, or two share the "
                                          "address"),
                        {headerDifferences(outcome)});
    }
    return std::nullopt;
}

Words totalBackWords(const std::string& from, const std::string& to) {
    return sentence(QT_TRANSLATE_NOOP("ReplyWords",
                                      "the total went back from %1 to %2: the instrument was "
                                      "reset, or another instrument answered"),
                    {value(from), value(to)});
}

} // namespace darq
