#pragma once

#include "gateway/gateway.h"
#include "gateway/service_notifier.h"
#include "protocol/total_check.h"
#include "read/read_options.h"
#include "read/read_summary.h"
#include "read/reading_output.h"
#include "serial/comm_control.h"
#include "serial/exchange_engine.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <utility>
#include <vector>

namespace darq {

// One run of darq-read on its port: open the line, then in each cycle read each address in turn
// on the port's exchange engine and print the record; the next cycle starts `interval` after the
// start of this one. Everything runs on the event loop, so an interrupt or a dying port is
// handled at once, whatever the run is waiting for. With --reconnect a lost port does not end the
// run: it is reopened with a growing pause, and meanwhile each read is a port-lost record. With a
// gateway each record is handed to it as well; it publishes on threads of its own.
class ReadSession : public QObject {
    Q_OBJECT

public:
    // `portArgument` as given on the command line: a path, or COM1 and COM2, resolved afresh
    // at each open. `gateway`, when there is one, is started already; the run stops it at its end.
    ReadSession(const ReadOptions& options, const QString& portArgument, Gateway* gateway = nullptr,
                QObject* parent = nullptr);

    // Opens the port and takes the first reading. A port that cannot be used is reported on
    // stderr and ends the run with exit status 2.
    void start();
    // Ends the run now: a reading still waiting for its reply is dropped, the summary is printed.
    void stop();

signals:
    void finished(int exitStatus);

private:
    void openPort();
    void onPortOpened();
    void onOpenFailed(const PortError& error);
    void startCycle();
    void readNext();
    void onExchangeFinished(const ReadingRecord& record, const QObject* requester);
    // Prints a record and goes on to the next address or cycle.
    void take(ReadingRecord record);
    // The port cannot be used: ends the run, or with --reconnect starts reopening it. Returns
    // whether the run goes on.
    bool portGone(const QString& message);
    ReadingRecord lostRecord() const;
    void onLateBytes(const Bytes& bytes, std::optional<qint64> msLate);
    void endWithPortError(const QString& message);
    // Writes to standard output; on failure says why and ends the run with status 74.
    bool print(const std::string& text);
    void end(int exitStatus);
    void trace(std::chrono::system_clock::time_point time, const char* direction,
               const Bytes& frame);

    ReadOptions options_;
    QString portArgument_;
    CommControl port_;
    ExchangeEngine engine_;
    QTimer nextCycleTimer_;
    QTimer reopenTimer_;
    Gateway* gateway_;
    ServiceNotifier service_;
    // Keeps the watchdog fed when cycles are further apart than it allows.
    QTimer aliveTimer_;
    int reopenPauseMs_ = 0;
    bool portAway_ = false; // lost, and being reopened
    bool cycling_ = false;  // the first cycle has started
    QString lostBecause_;
    std::chrono::steady_clock::time_point lostSince_;
    ReadingsOutput output_;
    TotalWatch totals_;
    ReadSummary summary_;                                // the whole run
    std::vector<std::pair<int, ReadSummary>> summaries_; // each address
    std::size_t addressIndex_ = 0;                       // the instrument of this cycle being read
    int cycles_ = 0;
    std::chrono::steady_clock::time_point cycleStart_;
    bool done_ = false;
    bool toldLateReply_ = false; // said once per run
};

} // namespace darq
