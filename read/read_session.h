#pragma once

#include "protocol/bytes.h"
#include "protocol/reply_completion.h"
#include "read/read_options.h"
#include "read/read_summary.h"
#include "serial/line_settings.h"
#include "serial/port_error.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <chrono>
#include <utility>
#include <vector>

namespace darq {

// One run of darq-read on its own serial port: open the line, then in each cycle, for each
// address in turn, send the request, collect the reply until the gap or the timeout ends it and
// print it; the next cycle starts `interval` after the start of this one. Everything runs on the
// event loop, so an interrupt or a dying port is handled at once, whatever the run is waiting for.
class ReadSession : public QObject {
    Q_OBJECT

public:
    ReadSession(const ReadOptions& options, const QString& device, QObject* parent = nullptr);

    // Opens the port and takes the first reading. A port that cannot be used is reported on
    // stderr and ends the run with exit status 2.
    void start();
    // Ends the run now: a reading still waiting for its reply is dropped, the summary is printed.
    void stop();

signals:
    void finished(int exitStatus);

private:
    enum class State {
        Idle,       // between readings: what arrives is dropped
        Sending,    // the request is on its way to the device
        Collecting, // the request is out; the reply is coming in
        Done,
    };

    void startCycle();
    void startRead();
    void onBytesWritten();
    void markSent();
    void onReadyRead();
    void dropLateBytes();
    void scheduleCompletionCheck();
    void onCompletionCheck();
    void finishRead();
    void onPortError(QSerialPort::SerialPortError error);
    void endWithPortError(PortError::Kind kind, const QString& reason);
    // Ends the run with status 74 when standard output or standard error has failed.
    bool endIfOutputLost();
    void end(int exitStatus);
    void trace(const char* direction, const Bytes& frame) const;

    ReadOptions options_;
    QString device_;
    int baudRate_;
    LineSettings lineSettings_;
    Bytes request_;
    std::size_t addressIndex_ = 0; // the instrument of this cycle being read
    int cycles_ = 0;
    std::chrono::milliseconds timeout_;
    QSerialPort port_;
    QTimer completionTimer_;
    QTimer nextReadTimer_;
    ReplyCollector collector_;
    ReadSummary summary_;                                // the whole run
    std::vector<std::pair<int, ReadSummary>> summaries_; // each address
    State state_ = State::Idle;
    std::chrono::steady_clock::time_point cycleStart_;
    std::chrono::steady_clock::time_point readStart_;
    std::chrono::system_clock::time_point readTime_;
    bool toldLateReply_ = false; // said once per run
};

} // namespace darq
