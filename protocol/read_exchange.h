#pragma once

#include "protocol/bytes.h"
#include "protocol/reply.h"

namespace darq {

// The four things a read exchange asks of the serial port.
class PortOperations {
public:
    virtual ~PortOperations() = default;

    // Drops every received byte still waiting, so that the reply is not mixed with older bytes.
    virtual void discardReceiveBuffer() = 0;
    // Sends the bytes as one raw binary block. False when they could not be handed to the
    // device; then nothing of them goes out later either.
    virtual bool send(const Bytes& frame) = 0;
    // Gives the instrument time to answer; may block the calling thread.
    virtual void settleWait(int milliseconds) = 0;
    // Every byte received so far, removed from the receive buffer; empty when nothing came.
    virtual Bytes takeInput() = 0;
};

enum class ExchangeStatus {
    Completed,
    AddressOutOfRange, // refused before anything was sent
    SendFailed,        // the request did not leave: there is no reply to wait for
};

struct ExchangeResult {
    ExchangeStatus status = ExchangeStatus::Completed;
    Bytes request;       // what was sent; empty when nothing was
    ReadOutcome outcome; // meaningful when completed
};

// The first half of an exchange: builds the request for `address`, empties the receive buffer
// and sends the request. Completed, with the request, when it went out; AddressOutOfRange, having
// touched nothing, for an address outside 0 to 128; SendFailed when the port did not take it.
ExchangeResult sendReadRequest(PortOperations& port, int address);

// The second half: takes everything that arrived after `request` and decodes it into one
// outcome, our own echo removed.
ReadOutcome takeReadReply(PortOperations& port, const Bytes& request);

// One whole read exchange for callers that may block: send, settle wait, take the reply.
ExchangeResult runReadExchange(PortOperations& port, int address, int settleMilliseconds);

} // namespace darq
