#include "protocol/read_exchange.h"

#include "protocol/read_request.h"

namespace darq {

bool sendReadRequest(PortOperations& port, int address) {
    const std::optional<ReadRequest> request = buildReadRequest(address);
    if (!request) {
        return false;
    }
    port.discardReceiveBuffer();
    port.send(Bytes(request->begin(), request->end()));
    return true;
}

ReadOutcome takeReadReply(PortOperations& port) {
    return decodeReply(port.takeInput());
}

ExchangeResult runReadExchange(PortOperations& port, int address, int settleMilliseconds) {
    ExchangeResult result;
    if (!sendReadRequest(port, address)) {
        result.status = ExchangeStatus::AddressOutOfRange;
        return result;
    }
    port.settleWait(settleMilliseconds);
    result.outcome = takeReadReply(port);
    return result;
}

} // namespace darq
