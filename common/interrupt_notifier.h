#pragma once

#include <QObject>

class QSocketNotifier;

namespace darq {

// Brings SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, logout) into the event loop as a Qt signal, so
// that a program ends by closing its port and releasing the device's lock file rather than
// leaving them behind. The handler itself only writes a byte to a pipe, the one thing a signal
// handler can do safely; the event loop wakes on the pipe. One instance at a time; the default
// handling comes back when it is destroyed.
class InterruptNotifier : public QObject {
    Q_OBJECT

public:
    explicit InterruptNotifier(QObject* parent = nullptr);
    ~InterruptNotifier() override;

signals:
    void interrupted();

private:
    void onPipeReadable();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace darq
