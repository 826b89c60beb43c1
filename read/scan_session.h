#pragma once

#include "read/read_options.h"
#include "read/reading_output.h"
#include "serial/comm_control.h"
#include "serial/exchange_engine.h"
#include "serial/instrument_search.h"

#include <QObject>
#include <QString>

namespace darq {

// darq-read --scan: searches the line on `device` for instruments, every rate and address of the
// options, prints each one found as a reading, and says at the end what was heard. The exit
// status is 0 when an instrument was found, 1 when none was, 2 when the port failed.
class ScanSession : public QObject {
    Q_OBJECT

public:
    ScanSession(const ReadOptions& options, const QString& device, QObject* parent = nullptr);

    void start();
    // Ends the search at once, with what was heard so far.
    void stop();

signals:
    void finished(int exitStatus);

private:
    void onPortOpened();
    void onOpenFailed(const PortError& error);
    void onAttemptFinished(const ReadingRecord& record);
    void onProgress(int attemptsDone, int plannedAttempts, int baudRate, int address,
                    qint64 msLeft);
    void onInstrumentFound(const FoundInstrument& instrument);
    void onFinished(const SearchHearing& hearing);
    void clearProgressLine();

    ReadOptions options_;
    CommControl port_;
    ExchangeEngine engine_;
    InstrumentSearch search_;
    ReadingsOutput output_;
    bool progressOnTerminal_ = false;
    bool progressShown_ = false;
};

} // namespace darq
