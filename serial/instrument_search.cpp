#include "serial/instrument_search.h"

#include "protocol/line_timing.h"
#include "protocol/read_request.h"
#include "serial/exchange_engine.h"

#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace darq {

namespace {

constexpr int kInstrumentAddress = 1;

QString rateList(const std::vector<int>& rates) {
    QStringList names;
    for (const int rate : rates) {
        names << QStringLiteral("%1 Bd").arg(rate);
    }
    return names.join(QStringLiteral(", "));
}

// At each rate address 1 first, then the rest in ascending order.
std::vector<int> searchOrder(std::vector<int> addresses) {
    if (addresses.empty()) {
        for (int address = kMinAddress; address <= kMaxAddress; ++address) {
            addresses.push_back(address);
        }
    }
    std::sort(addresses.begin(), addresses.end());
    const auto first = std::find(addresses.begin(), addresses.end(), kInstrumentAddress);
    if (first != addresses.end()) {
        std::rotate(addresses.begin(), first, first + 1);
    }
    return addresses;
}

} // namespace

QString SearchHearing::summary() const {
    QStringList lines;
    for (const FoundInstrument& instrument : found) {
        lines << InstrumentSearch::tr("Instrument found: address %1 at %2 Bd.")
                     .arg(instrument.address)
                     .arg(instrument.baudRate);
    }
    switch (ended) {
    case Ended::Searched:
        break;
    case Ended::Cancelled:
        lines << InstrumentSearch::tr("The search was cancelled after %1 of %2 attempts.")
                     .arg(attempts)
                     .arg(plannedAttempts);
        break;
    case Ended::PortProblem:
        lines << InstrumentSearch::tr("The search stopped after %1 of %2 attempts: %3")
                     .arg(attempts)
                     .arg(plannedAttempts)
                     .arg(portProblem);
        break;
    }
    if (!found.empty()) {
        return lines.join(QLatin1Char('\n'));
    }
    if (!ratesWithOtherBytes.empty()) {
        lines << InstrumentSearch::tr(
                     "Bytes came back at %1 but never a valid reply: another protocol on the "
                     "line, a wrong parity or stop-bit setting, or the wiring (A and B swapped).")
                     .arg(rateList(ratesWithOtherBytes));
    }
    if (!ratesWithEchoOnly.empty()) {
        lines << InstrumentSearch::tr(
                     "Only our own request came back at %1, as the adapter echoes it: no "
                     "instrument answered. Check the wiring, the instrument's power and its "
                     "address.")
                     .arg(rateList(ratesWithEchoOnly));
    }
    // Only a search that went through the whole plan may say that nothing came at any rate.
    if (ratesWithOtherBytes.empty() && ratesWithEchoOnly.empty() && attempts > 0 &&
        ended == Ended::Searched) {
        lines << InstrumentSearch::tr(
            "Nothing came back at any rate: check the wiring, the instrument's power, "
            "and that the adapter is set for the line (RS-232 or RS-485).");
    }
    return lines.join(QLatin1Char('\n'));
}

InstrumentSearch::InstrumentSearch(ExchangeEngine& engine, SearchPlan plan, QObject* parent)
    : QObject(parent), engine_(engine), plan_(std::move(plan)),
      addresses_(searchOrder(plan_.addresses)) {
    qRegisterMetaType<darq::FoundInstrument>();
    qRegisterMetaType<darq::SearchHearing>();
    connect(&engine_, &ExchangeEngine::finished, this, &InstrumentSearch::onAttemptFinished);
}

InstrumentSearch::~InstrumentSearch() {
    // A search that has ended left nothing on the engine, which may be gone by now.
    if (running_) {
        engine_.cancel(this);
        engine_.release(this);
    }
}

int InstrumentSearch::plannedAttempts() const {
    return static_cast<int>(plan_.baudRates.size() * addresses_.size());
}

void InstrumentSearch::start() {
    if (running_) {
        return;
    }
    running_ = true;
    hearing_ = {};
    hearing_.plannedAttempts = plannedAttempts();
    rateIndex_ = 0;
    addressIndex_ = 0;
    engine_.reserve(this);
    // From the event loop, so that the caller has connected to everything before the first
    // signal, even when the search ends at once.
    QTimer::singleShot(0, this, &InstrumentSearch::nextAttempt);
}

void InstrumentSearch::cancel() {
    finish(SearchHearing::Ended::Cancelled);
    // Its attempt under way ends now, not when its wait runs out.
    engine_.cancel(this);
}

void InstrumentSearch::nextAttempt() {
    if (!running_) {
        return;
    }
    if (rateIndex_ >= plan_.baudRates.size() || addresses_.empty()) {
        finish(SearchHearing::Ended::Searched);
        return;
    }
    const int rate = plan_.baudRates[rateIndex_];
    const int address = addresses_[addressIndex_];
    emit progress(hearing_.attempts, hearing_.plannedAttempts, rate, address, msLeft());
    ExchangeOrder order;
    order.address = address;
    order.baudRate = rate;
    order.wait = ReplyWait::CompleteReply;
    order.timeout = std::chrono::milliseconds(timeoutMs(rate));
    if (engine_.submit(this, order) != ReadStart::Accepted) {
        finish(SearchHearing::Ended::PortProblem, InstrumentSearch::tr("the port is not open"));
    }
}

void InstrumentSearch::onAttemptFinished(const ReadingRecord& record, const QObject* requester) {
    if (requester != this || !running_) {
        return;
    }
    if (record.status != ReadingRecord::Status::Completed) {
        finish(SearchHearing::Ended::PortProblem, QString::fromStdString(record.problem));
        return;
    }
    ++hearing_.attempts;
    const ReadOutcome& outcome = record.outcome;
    if (outcome.isReading()) {
        const FoundInstrument instrument{record.baudRate, *record.address, record};
        hearing_.found.push_back(instrument);
        emit instrumentFound(instrument);
        if (!plan_.findAll) {
            finish(SearchHearing::Ended::Searched);
            return;
        }
    } else if (!outcome.reply().empty()) {
        heardOtherAtRate_ = true;
    } else if (outcome.echoRemoved) {
        heardEchoAtRate_ = true;
    }
    if (++addressIndex_ >= addresses_.size()) {
        noteRate();
        addressIndex_ = 0;
        ++rateIndex_;
    }
    nextAttempt();
}

void InstrumentSearch::noteRate() {
    const int rate = plan_.baudRates[rateIndex_];
    if (heardOtherAtRate_) {
        hearing_.ratesWithOtherBytes.push_back(rate);
    } else if (heardEchoAtRate_) {
        hearing_.ratesWithEchoOnly.push_back(rate);
    }
    heardEchoAtRate_ = false;
    heardOtherAtRate_ = false;
}

void InstrumentSearch::finish(SearchHearing::Ended ended, const QString& portProblem) {
    if (!running_) {
        return;
    }
    running_ = false;
    if (rateIndex_ < plan_.baudRates.size()) {
        noteRate();
    }
    hearing_.ended = ended;
    hearing_.portProblem = portProblem;
    // The line is free again before anyone hears of the end.
    engine_.release(this);
    emit finished(hearing_);
}

int InstrumentSearch::timeoutMs(int baudRate) const {
    return plan_.timeoutMs.value_or(attemptBudgetMs(baudRate) + engine_.networkAllowanceMs());
}

qint64 InstrumentSearch::msLeft() const {
    qint64 left = 0;
    for (std::size_t rate = rateIndex_; rate < plan_.baudRates.size(); ++rate) {
        const std::size_t addresses =
            addresses_.size() - (rate == rateIndex_ ? addressIndex_ : std::size_t{0});
        left += qint64(addresses) * timeoutMs(plan_.baudRates[rate]);
    }
    return left;
}

} // namespace darq
