#pragma once

#include "protocol/bytes.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <termios.h>

namespace darq::testing {

// The instrument's end of a cable: the master side of a pseudo-terminal, played by the test. The
// control under test opens the other side by its path. The test keeps that side open too, so the
// line stays up while the control closes and reopens it.
class InstrumentEnd {
public:
    using RequestHandler = std::function<void(const Bytes& request)>;

    InstrumentEnd();
    ~InstrumentEnd();
    InstrumentEnd(const InstrumentEnd&) = delete;
    InstrumentEnd& operator=(const InstrumentEnd&) = delete;

    QString devicePath() const { return devicePath_; }

    // Called from the event loop with each eight-byte request that arrives.
    void onRequest(RequestHandler handler) { handler_ = std::move(handler); }
    // Answers the next request from a thread of its own, for a caller that blocks the event loop.
    void answerOnOwnThread(Bytes reply);
    void joinOwnThread();

    // Reads what has reached this end by now, without waiting for the event loop.
    void readNow() { readRequests(); }
    void send(const Bytes& bytes);
    // Sends all of the bytes, waiting up to `timeoutMs` for the line to take them.
    void sendWhenWritable(const Bytes& bytes, int timeoutMs);
    // Closes the instrument's end: for the tool's side the line is dead.
    void hangUp();
    // Stops reading and fills the line from the tool's side until it takes no more: the tool's
    // next send finds no room, while its port stays open.
    void jamToolOutput();

    // Every byte the tool has sent so far.
    const Bytes& received() const { return received_; }
    // The line settings the tool put on the device.
    termios lineSettings() const;

private:
    void readRequests();

    int master_ = -1;
    int toolSide_ = -1;
    QString devicePath_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Bytes received_;
    std::size_t handled_ = 0;
    RequestHandler handler_;
    std::thread ownThread_;
};

// Points DARQ_COMn at a device for the length of one test.
class ScopedComPort {
public:
    ScopedComPort(int commPort, const QString& device);
    ~ScopedComPort();
    ScopedComPort(const ScopedComPort&) = delete;
    ScopedComPort& operator=(const ScopedComPort&) = delete;

private:
    QByteArray variable_;
    std::optional<QByteArray> previous_;
};

// Where QSerialPort keeps the lock file of `device` (a path under /dev): the first readable
// directory of its list that holds the file already or may be written to.
QString lockFileQtUses(const QString& device);

// Runs the event loop until `done` holds, for at most `timeoutMs`. Returns whether it held.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for `milliseconds`.
void runEventsFor(int milliseconds);

QByteArray hex(const Bytes& bytes);

} // namespace darq::testing
