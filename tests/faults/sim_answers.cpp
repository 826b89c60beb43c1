#include "sim_answers.h"

#include <regex>
#include <sstream>
#include <stdexcept>

namespace darq::testing {

namespace {

// "echo, short-reply (9 bytes), extra-bytes (+3)" -> {"echo", "short-reply", "extra-bytes"}
std::set<std::string> faultKinds(const std::string& list) {
    std::set<std::string> kinds;
    if (list == "none") {
        return kinds;
    }
    std::istringstream items(list);
    std::string item;
    while (std::getline(items, item, ',')) {
        const auto first = item.find_first_not_of(' ');
        const auto detail = item.find(" (");
        kinds.insert(item.substr(first, detail == std::string::npos ? detail : detail - first));
    }
    return kinds;
}

} // namespace

Bytes bytesFromHex(const std::string& text) {
    Bytes bytes;
    if (text == "(none)" || text == "(nothing)") {
        return bytes;
    }
    std::istringstream pairs(text);
    std::string pair;
    while (pairs >> pair) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

SimTranscript readSimTranscript(const std::string& log) {
    // "2026-01-02 10:11:12.345 RX 01 03 ... | line 9600 8N2[, flags]"
    // "2026-01-02 10:11:12.345 TX 01 03 ... | flow 1234.56, total 712345.678 | faults: none"
    static const std::regex received(R"(^\S+ \S+ RX [0-9A-F ]+ \| (.*)$)");
    static const std::regex sent(
        R"(^\S+ \S+ TX ((?:[0-9A-F]{2} ?)+|\(none\)) \| .* \| faults: (.+)$)");

    SimTranscript transcript;
    std::istringstream lines(log);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, received)) {
            ++transcript.requests;
            if (match[1].str().find("no answer") != std::string::npos) {
                ++transcript.unanswered;
            }
        } else if (std::regex_match(line, match, sent)) {
            transcript.answers.push_back(
                {bytesFromHex(match[1].str()), faultKinds(match[2].str())});
        } else if (line.find(" TX ") != std::string::npos) {
            throw std::runtime_error("unreadable reply line in the darq-sim log: " + line);
        }
    }
    return transcript;
}

} // namespace darq::testing
