#include "sim/request_judgement.h"

#include "protocol/crc16.h"
#include "protocol/read_request.h"

#include <algorithm>

namespace darq::sim {

RequestJudgement judgeRequest(const Bytes& frame, const std::vector<int>& ownAddresses,
                              std::optional<std::size_t> length) {
    RequestJudgement judgement;
    const std::size_t wholeLength = length.value_or(frame.size());
    if (wholeLength != kRequestLength) {
        judgement.flags.push_back(std::to_string(wholeLength) + " bytes, not " +
                                  std::to_string(kRequestLength));
    }
    if (!endsWithValidCheckValue(frame)) {
        judgement.flags.push_back("bad CRC");
    }
    if (frame.size() >= 2 && frame[1] != kReadRegistersFunction) {
        judgement.flags.push_back("function 0x" + hexText({frame[1]}));
    }
    const bool ownAddress = !frame.empty() && std::find(ownAddresses.begin(), ownAddresses.end(),
                                                        frame[0]) != ownAddresses.end();
    if (!frame.empty() && !ownAddress) {
        judgement.flags.push_back("other address " + std::to_string(frame[0]));
    }
    judgement.answer = wholeLength == kRequestLength && isReadRequest(frame) && ownAddress;
    return judgement;
}

} // namespace darq::sim
