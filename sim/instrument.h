#pragma once

#include "sim/faults.h"
#include "sim/instrument_values.h"
#include "sim/line_settings.h"
#include "sim/options.h"
#include "sim/pacing.h"
#include "sim/request_framer.h"
#include "sim/served_line.h"
#include "sim/sim_log.h"
#include "sim/transmit_queue.h"

#include <optional>

namespace darq::sim {

// The instrument at work: listens on the line, answers read requests for its address with the
// current values and the drawn faults, paced like a real line, and logs what passes.
class VirtualInstrument {
public:
    VirtualInstrument(const SimOptions& options, ServedLine& line, SimLog& log,
                      RandomSource& random);

    // Serves until a byte arrives on `stopFd` (a signalfd for the stop signals). Returns the reason
    // when waiting on the line itself failed.
    std::optional<std::string> run(int stopFd);

private:
    void acceptClient(Clock::time_point now);
    void receive(Clock::time_point now);
    void answer(const ReceivedFrame& frame, Clock::time_point now);
    void echoUnanswered(const ReceivedFrame& frame, Clock::time_point now);
    // When the echo and the reply to `frame` go out: at the line's pace, or at once.
    AnswerTiming timingFor(const ReceivedFrame& frame, Clock::time_point now) const;
    void sendDue(Clock::time_point now);
    std::optional<Clock::time_point> nextWakeUp() const;

    const SimOptions& options_;
    ServedLine& line_;
    SimLog& log_;
    RandomSource& random_;
    InstrumentValues values_;
    RequestFramer framer_;
    TransmitQueue queue_;
    LineSettings settings_;
    // While reading the line fails, it is tried again only after a pause, so that a dead line
    // does not turn the wait into a busy loop.
    std::optional<Clock::time_point> readRetryAt_;
    bool lineFailing_ = false; // logged once when it starts, once when it ends
    std::string client_;       // the TCP client being served, for the log
};

} // namespace darq::sim
