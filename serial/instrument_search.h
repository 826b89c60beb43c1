#pragma once

#include "protocol/line_timing.h"
#include "protocol/reply.h"
#include "serial/exchange_driver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <vector>

namespace darq {

class CommControl;

// What to search: every rate in the order given, and at each rate every address, address 1 first
// (where the instrument most often sits), then the rest in ascending order.
struct SearchPlan {
    std::vector<int> baudRates = {9600, 4800, 2400, 1200}; // the usual rate first
    std::vector<int> addresses;                            // empty: 0 to 128
    bool findAll = false;                                  // go on after the first instrument found
    int turnaroundAllowanceMs = kTurnaroundAllowanceMs;    // each attempt waits attemptBudgetMs
};

// An instrument that answered with a 17-byte reply whose check value is right.
struct FoundInstrument {
    int baudRate = 0;
    int address = 0;
    ExchangeReport report;
};

// What a search heard, for the operator's plain-words summary.
struct SearchHearing {
    enum class Ended {
        Searched,   // every attempt was made (or the first instrument found, without findAll)
        Cancelled,  // the operator stopped it
        PortClosed, // the port closed or died under the search
        SendFailed, // the port took no request
        RateRefused // the device refused a rate of the plan
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
// ends as soon as a valid reply is in, on the port as it is (open, at any rate). Never blocks the
// thread; the port is left at the rate last tried.
class InstrumentSearch : public QObject {
    Q_OBJECT

public:
    InstrumentSearch(CommControl& port, SearchPlan plan, QObject* parent = nullptr);

    void start();
    // Stops after the attempt under way; `finished` follows.
    void cancel();
    int plannedAttempts() const;

signals:
    // Each attempt as it ends: the bytes on the line, for a traffic log.
    void attemptFinished(const darq::ExchangeReport& report);
    // Before each attempt: how far the search is, and about how long the rest takes.
    void progress(int attemptsDone, int plannedAttempts, int baudRate, int address, int msLeft);
    void instrumentFound(const darq::FoundInstrument& instrument);
    void finished(const darq::SearchHearing& hearing);

private:
    void nextAttempt();
    void onAttemptFinished(const ExchangeReport& report);
    // Notes what the rate being searched gave, before moving on from it.
    void noteRate();
    void finish(SearchHearing::Ended ended, const QString& portProblem = {});
    int msLeft() const;

    CommControl& port_;
    ExchangeDriver driver_;
    SearchPlan plan_;
    std::vector<int> addresses_;
    std::size_t rateIndex_ = 0;
    std::size_t addressIndex_ = 0;
    SearchHearing hearing_;
    bool running_ = false;
    bool cancelled_ = false;
    bool heardEchoAtRate_ = false;
    bool heardOtherAtRate_ = false;
};

} // namespace darq

Q_DECLARE_METATYPE(darq::FoundInstrument)
Q_DECLARE_METATYPE(darq::SearchHearing)
