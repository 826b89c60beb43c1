#include "protocol/read_exchange.h"

#include "protocol/read_request.h"

namespace darq {

ExchangeResult sendReadRequest(PortOperations& port, int address) {
    ExchangeResult result;
    const std::optional<ReadRequest> request = buildReadRequest(address);
    if (!request) {
        result.status = ExchangeStatus::AddressOutOfRange;
        return result;
    }
    port.discardReceiveBuffer();
    const Bytes frame(request->begin(), request->end());
    if (!port.send(frame)) {
        result.status = ExchangeStatus::SendFailed;
        return result;
    }
    result.request = frame;
    return result;
}

ReadOutcome takeReadReply(PortOperations& port, const Bytes& request) {
    return decodeAnswer(request, port.takeInput());
}

ExchangeResult runReadExchange(PortOperations& port, int address, int settleMilliseconds) {
    ExchangeResult result = sendReadRequest(port, address);
    if (result.status != ExchangeStatus::Completed) {
        return result;
    }
    port.settleWait(settleMilliseconds);
    result.outcome = takeReadReply(port, result.request);
    return result;
}

} // namespace darq
