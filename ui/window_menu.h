#pragma once

#include "serial/serial_devices.h"

#include <QList>
#include <QObject>

#include <array>

class QAction;
class QMenu;
class QWidget;

namespace darq {

// The window's context menu. It opens on a right-click anywhere in the window where a control has
// no menu of its own (the total and the two lists keep their edit menus), and offers the devices
// COM1 and COM2 may mean: the machine's serial devices, listed afresh each time the menu opens,
// and any other path the operator types. A chosen device is remembered for the user.
class WindowMenu : public QObject {
    Q_OBJECT

public:
    explicit WindowMenu(QWidget* window);

    // Adds an entry below the device choices; the window's own further commands go here.
    void addAction(QAction* action);

signals:
    // The operator assigned a device to port `commPort` (1 or 2) and it is remembered: the next
    // open of that port uses it.
    void deviceAssigned(int commPort);

private:
    void fillDeviceMenus();
    void fillDeviceMenu(int commPort, const QList<SerialDevice>& devices);
    // Asks for a device path without blocking the window; the answer arrives as a signal.
    void askForDevicePath(int commPort);
    void assign(int commPort, const QString& device);

    QWidget* window_;
    QMenu* menu_;
    std::array<QMenu*, 2> deviceMenus_{};
};

} // namespace darq
