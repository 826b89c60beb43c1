#pragma once

#include "protocol/reading_record.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

namespace darq {

class ExchangeEngine;

// What to search: every rate in the order given, and at each rate every address, address 1 first
// (where the instrument most often sits), then the rest in ascending order.
struct SearchPlan {
    std::vector<int> baudRates = {9600, 4800, 2400, 1200}; // the usual rate first
    std::vector<int> addresses;                            // empty: 0 to 128
    bool findAll = false; // go on after the first instrument found
    // The longest wait for each reply; none: the wire time of request and reply at the rate plus
    // the allowance for the instrument to turn round, and over a network its round trip.
    std::optional<int> timeoutMs;
};

// An instrument that answered intact: a 17-byte reply from the address asked, its check value
// right.
struct FoundInstrument {
    int baudRate = 0;
    int address = 0;
    ReadingRecord record;
};

// What a search heard, for the operator's plain-words summary.
struct SearchHearing {
    enum class Ended {
        Searched,    // every attempt was made (or the first instrument found, without findAll)
        Cancelled,   // the operator stopped it
        PortProblem, // the port closed, died, took no request or refused a rate
    };

    Ended ended = Ended::Searched;
    std::vector<FoundInstrument> found;
    std::vector<int> ratesWithEchoOnly;   // only our own request came back there
    std::vector<int> ratesWithOtherBytes; // bytes came there, but never a valid reply
    QString portProblem;                  // the port's message, when it ended the search
    int attempts = 0;
    int plannedAttempts = 0;

    // What was heard, in plain words, one sentence a line.
    QString summary() const;
};

// Searches the line for instruments: tries each rate and address of the plan with a read that
// ends as soon as a whole reply is in. It has the line to itself while it runs; other reads on
// the engine wait until it ends. The port is left at the rate last tried.
class InstrumentSearch : public QObject {
    Q_OBJECT

public:
    InstrumentSearch(ExchangeEngine& engine, SearchPlan plan, QObject* parent = nullptr);
    ~InstrumentSearch() override;

    void start();
    // Stops at once, with what was heard so far; `finished` follows.
    void cancel();
    int plannedAttempts() const;

signals:
    // Before each attempt: how far the search is, and about how long the rest takes.
    void progress(int attemptsDone, int plannedAttempts, int baudRate, int address,
                  qint64 msLeft);
    void instrumentFound(const darq::FoundInstrument& instrument);
    void finished(const darq::SearchHearing& hearing);

private:
    void nextAttempt();
    void onAttemptFinished(const ReadingRecord& record, const QObject* requester);
    // Notes what the rate being searched gave, before moving on from it.
    void noteRate();
    void finish(SearchHearing::Ended ended, const QString& portProblem = {});
    int timeoutMs(int baudRate) const;
    qint64 msLeft() const;

    ExchangeEngine& engine_;
    SearchPlan plan_;
    std::vector<int> addresses_;
    std::size_t rateIndex_ = 0;
    std::size_t addressIndex_ = 0;
    SearchHearing hearing_;
    bool running_ = false;
    bool heardEchoAtRate_ = false;
    bool heardOtherAtRate_ = false;
};

} // namespace darq

Q_DECLARE_METATYPE(darq::FoundInstrument)
Q_DECLARE_METATYPE(darq::SearchHearing)
