#include "protocol/read_exchange.h"

#include "protocol/read_request.h"

namespace darq {

ExchangeStatus sendReadRequest(PortOperations& port, int address) {
    const std::optional<ReadRequest> request = buildReadRequest(address);
    if (!request) {
        return ExchangeStatus::AddressOutOfRange;
    }
    port.discardReceiveBuffer();
    if (!port.send(Bytes(request->begin(), request->end()))) {
        return ExchangeStatus::SendFailed;
    }
    return ExchangeStatus::Completed;
}

ReadOutcome takeReadReply(PortOperations& port) {
    return decodeReply(port.takeInput());
}

ExchangeResult runReadExchange(PortOperations& port, int address, int settleMilliseconds) {
    ExchangeResult result;
    result.status = sendReadRequest(port, address);
    if (result.status != ExchangeStatus::Completed) {
        return result;
    }
    port.settleWait(settleMilliseconds);
    result.outcome = takeReadReply(port);
    return result;
}

} // namespace darq
