#include "ui/com_port_tooltip.h"

#include "serial/port_names.h"
#include "serial/serial_devices.h"

#include <QFileInfo>
#include <QHelpEvent>
#include <QStringList>
#include <QToolTip>
#include <QWidget>

namespace darq {

namespace {

QString sourceText(int commPort, CommPortSource source) {
    switch (source) {
    case CommPortSource::Environment:
        return ComPortTooltip::tr("set by DARQ_COM%1").arg(commPort);
    case CommPortSource::Assignment:
        return ComPortTooltip::tr("assigned in this window");
    case CommPortSource::Adapter:
        return commPort == 1 ? ComPortTooltip::tr("the first plugged USB adapter")
                             : ComPortTooltip::tr("the second plugged USB adapter");
    case CommPortSource::Builtin:
        return ComPortTooltip::tr("built-in serial port");
    case CommPortSource::Windows:
        return {};
    }
    return {};
}

// The button's own tooltip, then what port `commPort` (1 or 2) means as things are now.
QString tooltipText(const QWidget* button, int commPort) {
    const CommPortDevice current = commPortDevice(commPort);
    QStringList lines{button->toolTip(), current.device};
    const std::optional<SerialDevice> device = deviceBehind(current.device, listSerialDevices());
    if (device && !device->description.isEmpty()) {
        lines << device->description;
    }
    const QString source = sourceText(commPort, current.source);
    if (!source.isEmpty()) {
        lines << source;
    }
    if (current.source != CommPortSource::Windows && !QFileInfo::exists(current.device)) {
        lines << ComPortTooltip::tr("not present now");
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

ComPortTooltip::ComPortTooltip(QWidget* button, int commPort)
    : QObject(button), button_(button), commPort_(commPort) {
    button->installEventFilter(this);
}

bool ComPortTooltip::eventFilter(QObject* watched, QEvent* event) {
    if (watched != button_ || event->type() != QEvent::ToolTip) {
        return false;
    }
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                       tooltipText(button_, commPort_), button_);
    return true;
}

} // namespace darq
