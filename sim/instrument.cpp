#include "sim/instrument.h"

#include "protocol/reply.h"
#include "sim/request_judgement.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace darq::sim {

namespace {

constexpr std::chrono::milliseconds kReadRetryPause{100};
constexpr std::chrono::seconds kLongestWait{1};

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : ", ") + part;
    }
    return text;
}

timespec timeoutUntil(std::optional<Clock::time_point> wakeUp, Clock::time_point now) {
    Clock::duration wait = kLongestWait;
    if (wakeUp) {
        wait = std::clamp<Clock::duration>(*wakeUp - now, Clock::duration::zero(), kLongestWait);
    }
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    return timespec{static_cast<time_t>(nanoseconds / 1000000000),
                    static_cast<long>(nanoseconds % 1000000000)};
}

} // namespace

VirtualInstrument::VirtualInstrument(const SimOptions& options, ServedLine& line, SimLog& log,
                                     RandomSource& random)
    : options_(options), line_(line), log_(log), random_(random),
      values_(options.fixedReading ? InstrumentValues::fixed(*options.fixedReading)
                                   : InstrumentValues::varying(Clock::now())) {
    settings_.baudRate = options.baudRate;
}

std::optional<std::string> VirtualInstrument::run(int stopFd) {
    for (;;) {
        // A negative descriptor leaves the line out of the wait; a dead line would otherwise
        // report its hang-up at once on every wait, even with no events asked for.
        const int lineFd = readRetryAt_ ? -1 : line_.waitFd();
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {lineFd, POLLIN, 0}};
        const timespec timeout = timeoutUntil(nextWakeUp(), Clock::now());
        if (::ppoll(fds, 2, &timeout, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return "waiting on " + line_.path() + " failed: " + std::strerror(errno);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo signal{};
            if (::read(stopFd, &signal, sizeof signal) == sizeof signal) {
                log_.write(std::string("stopping on SIG") +
                           ::sigabbrev_np(static_cast<int>(signal.ssi_signo)));
            }
            return std::nullopt;
        }
        Clock::time_point now = Clock::now();
        if (readRetryAt_ && now >= *readRetryAt_) {
            readRetryAt_.reset();
        } else if (fds[1].revents != 0 && line_.fd() < 0) {
            acceptClient(now);
        } else if (fds[1].revents != 0) {
            receive(now);
            now = Clock::now();
        }
        while (const auto frame = framer_.takeCompleteFrame(now, quietGap(settings_.baudRate))) {
            answer(*frame, now);
        }
        sendDue(now);
    }
}

std::optional<Clock::time_point> VirtualInstrument::nextWakeUp() const {
    std::optional<Clock::time_point> wakeUp = framer_.frameEnd(quietGap(settings_.baudRate));
    for (const auto& other : {queue_.nextDue(), readRetryAt_}) {
        if (other && (!wakeUp || *other < *wakeUp)) {
            wakeUp = other;
        }
    }
    return wakeUp;
}

void VirtualInstrument::receive(Clock::time_point now) {
    std::uint8_t buffer[256];
    for (;;) {
        const ssize_t count = ::read(line_.fd(), buffer, sizeof buffer);
        if (count > 0) {
            if (lineFailing_) {
                log_.write("reading " + line_.path() + " works again");
                lineFailing_ = false;
            }
            if (!framer_.frameEnd(Clock::duration::zero())) {
                // Read once a request begins: the tool may change the rate between requests.
                settings_ = line_.currentSettings().value_or(settings_);
            }
            framer_.receive(Bytes(buffer, buffer + count), now);
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        const std::string reason = count == 0 ? "end of file" : std::strerror(errno);
        if (line_.isSocket()) {
            // What was on its way to this client is of no use to the next.
            log_.write("client " + client_ + " went away (" + reason + ")");
            line_.dropClient();
            framer_ = RequestFramer();
            queue_ = TransmitQueue();
            return;
        }
        if (!lineFailing_) {
            log_.write("reading " + line_.path() + " failed (" + reason + "); trying again every " +
                       std::to_string(kReadRetryPause.count()) + " ms");
            lineFailing_ = true;
        }
        readRetryAt_ = now + kReadRetryPause;
        return;
    }
}

void VirtualInstrument::acceptClient(Clock::time_point now) {
    if (const std::optional<std::string> client = line_.acceptClient()) {
        client_ = *client;
        log_.write("client " + client_ + " connected");
        return;
    }
    // A listening socket that cannot hand over its client stays readable: pause, as for a line
    // that fails.
    log_.write("taking a client on " + line_.path() + " failed (" + std::strerror(errno) + ")");
    readRetryAt_ = now + kReadRetryPause;
}

void VirtualInstrument::answer(const ReceivedFrame& frame, Clock::time_point now) {
    RequestJudgement judgement = judgeRequest(frame.bytes, options_.addresses, frame.length);
    std::vector<std::string> notes = {"line " + settings_.text()};
    if (!settings_.isInstrumentFrame()) {
        notes.back() += ", not 8N2";
    }
    // On a pseudo-terminal the bytes pass at any rate; a real instrument set to another rate
    // would hear only garbage.
    if (options_.answerRate && settings_.baudRate != *options_.answerRate) {
        notes.push_back("instrument at " + std::to_string(*options_.answerRate) + " Bd");
        judgement.answer = false;
    }
    if (frame.length > frame.bytes.size()) {
        notes.push_back("the first " + std::to_string(frame.bytes.size()) + " bytes shown");
    }
    notes.insert(notes.end(), judgement.flags.begin(), judgement.flags.end());
    if (!judgement.answer) {
        notes.push_back("no answer");
    }
    log_.write("RX " + hexText(frame.bytes) + " | " + joined(notes));
    if (!judgement.answer) {
        echoUnanswered(frame, now);
        return;
    }

    const FaultDraw faults = drawFaults(options_.faults, random_);
    const Reading reading = values_.readingAt(now);
    const Transmission transmission =
        applyFaults(frame.bytes, encodeReply(frame.bytes[0], reading), faults, random_);
    const AnswerTiming timing = timingFor(frame, now);
    queue_.schedule(transmission.echo, timing.echoFirstDue, timing.spacing);
    queue_.schedule(transmission.reply, timing.replyFirstDue, timing.spacing);

    Bytes sent = transmission.echo;
    sent.insert(sent.end(), transmission.reply.begin(), transmission.reply.end());
    const std::string faultText =
        transmission.applied.empty() ? "none" : joined(transmission.applied);
    log_.write("TX " + (sent.empty() ? std::string("(none)") : hexText(sent)) + " | flow " +
               flowText(reading) + ", total " + totalText(reading) + " | faults: " + faultText);
}

AnswerTiming VirtualInstrument::timingFor(const ReceivedFrame& frame, Clock::time_point now) const {
    return options_.pacing ? pacedTiming(frame.firstByteAt, frame.bytes.size(), settings_.baudRate,
                                         std::chrono::milliseconds(options_.turnaroundMs))
                           : immediateTiming(now);
}

void VirtualInstrument::echoUnanswered(const ReceivedFrame& frame, Clock::time_point now) {
    // An echoing adapter hears its own transmission whether or not any instrument answers.
    if (options_.faults.echo <= 0.0 || random_.uniform() >= options_.faults.echo) {
        return;
    }
    const AnswerTiming timing = timingFor(frame, now);
    queue_.schedule(frame.bytes, timing.echoFirstDue, timing.spacing);
    log_.write("TX " + hexText(frame.bytes) + " | no answer | faults: echo");
}

void VirtualInstrument::sendDue(Clock::time_point now) {
    const Bytes due = queue_.takeDue(now);
    if (due.empty()) {
        return;
    }
    const ssize_t written = ::write(line_.fd(), due.data(), due.size());
    if (written == static_cast<ssize_t>(due.size())) {
        return;
    }
    const std::size_t lost = due.size() - static_cast<std::size_t>(std::max<ssize_t>(written, 0));
    const std::string reason = written < 0 ? std::strerror(errno) : "line full";
    log_.write("could not send " + std::to_string(lost) + " bytes to " + line_.path() + " (" +
               reason + ")");
}

} // namespace darq::sim
