#pragma once

#include "serial/comm_control.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace darq::bench {

// THE COUNTER-EXAMPLE, kept only to be measured against the tool's window: what a naive port of
// the window does, a read button whose handler blocks the event thread for the fixed 100 ms
// settle wait and pumps events once on the way, and a label for the flow. Nothing outside the
// bench uses it, and nothing should read like it.
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
    QPushButton* readButton_;
    QLabel* flow_;
    bool readingShown_ = false;
};

} // namespace darq::bench
