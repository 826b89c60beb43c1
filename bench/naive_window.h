#pragma once

#include "protocol/read_exchange.h"
#include "serial/comm_control.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace darq::bench {

// THE COUNTER-EXAMPLE, kept only to be measured against the tool's window: what a naive port of
// the window does, blocking the event thread for the fixed 100 ms settle wait and pumping events
// once on the way. Nothing outside the bench uses it, and nothing should read like it.
class SleepingPort : public PortOperations {
public:
    explicit SleepingPort(CommControl& port) : port_(port) {}

    void discardReceiveBuffer() override { port_.discardReceiveBuffer(); }
    bool send(const Bytes& frame) override { return port_.send(frame); }
    void settleWait(int milliseconds) override;
    Bytes takeInput() override { return port_.takeInput(); }

private:
    CommControl& port_;
};

// A read button whose handler runs the whole exchange through SleepingPort, and a label for the
// flow. The counter-example to darq::Form1, for the event-loop stall figure only.
class NaiveReadWindow : public QWidget {
    Q_OBJECT

public:
    // Opens COM1 (DARQ_COM1) at 9600,n,8,2.
    NaiveReadWindow();

    bool portOpen() const;
    QPushButton* readButton() const { return readButton_; }
    bool readingShown() const { return readingShown_; }

signals:
    void readCycleEnded();

private:
    void readOnce();

    CommControl port_;
    SleepingPort sleepingPort_{port_};
    QPushButton* readButton_;
    QLabel* flow_;
    bool readingShown_ = false;
};

} // namespace darq::bench
