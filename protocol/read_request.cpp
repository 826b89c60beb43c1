#include "protocol/read_request.h"

#include "protocol/crc16.h"

namespace darq {

std::optional<ReadRequest> buildReadRequest(int address) {
    if (!isValidAddress(address)) {
        return std::nullopt;
    }
    const Bytes payload = {
        static_cast<std::uint8_t>(address),
        kReadRegistersFunction,
        static_cast<std::uint8_t>(kFirstRegister >> 8),
        static_cast<std::uint8_t>(kFirstRegister & 0xFF),
        static_cast<std::uint8_t>(kRegisterCount >> 8),
        static_cast<std::uint8_t>(kRegisterCount & 0xFF),
    };
    ReadRequest frame{};
    for (std::size_t i = 0; i < payload.size(); ++i) {
        frame[i] = payload[i];
    }
    frame[6] = static_cast<std::uint8_t>(CRC16(payload, 0));
    frame[7] = static_cast<std::uint8_t>(CRC16(payload, 1));
    return frame;
}

bool isReadRequest(const Bytes& frame) {
    return frame.size() == kRequestLength && frame[1] == kReadRegistersFunction &&
           endsWithValidCheckValue(frame);
}

} // namespace darq
