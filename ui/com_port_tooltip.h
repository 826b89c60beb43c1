#pragma once

#include <QObject>

class QWidget;

namespace darq {

// The tooltip of a COM option button: below the button's own tooltip, the device behind the port,
// what it is and why it is the one, worked out at the moment the tooltip is asked for, so that it
// follows an adapter plugged in or an assignment made since.
class ComPortTooltip : public QObject {
    Q_OBJECT

public:
    ComPortTooltip(QWidget* button, int commPort);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* button_;
    int commPort_;
};

} // namespace darq
