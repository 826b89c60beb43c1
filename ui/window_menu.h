#pragma once

#include "serial/serial_devices.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <array>

class QAction;
class QMenu;
class QMenuBar;
class QMessageBox;
class QWidget;

namespace darq {

// The window's menus: the menu bar, and the same commands in a context menu that opens on a
// right-click anywhere in the window where a control has no menu of its own (the total and the
// two lists keep their edit menus), or from the keyboard with Shift+F10 or the Menu key.
//
// The device menus offer the devices COM1 and COM2 may mean: the machine's serial devices, listed
// afresh each time a menu opens, and any other path the operator types. A chosen device is
// remembered for the user.
class WindowMenu : public QObject {
    Q_OBJECT

public:
    // Fills `menuBar`, which belongs to `window`.
    WindowMenu(QWidget* window, QMenuBar* menuBar);

signals:
    // The operator assigned a device to port `commPort` (1 or 2), or took the assignment back,
    // and the choice is remembered: the next open of that port uses it.
    void deviceAssigned(int commPort);
    void findInstrumentChosen();
    void trafficLogChosen();
    void trendChosen();

private:
    void fillDeviceMenu(int commPort, const QList<SerialDevice>& devices);
    // Asks for a device path without blocking the window; the answer arrives as a signal.
    void askForDevicePath(int commPort);
    void assign(int commPort, const QString& device);
    // The context menu for the control that has the keyboard focus, as a right-click on it opens.
    void openContextMenuFromKeyboard();
    void showAbout();

    QWidget* window_;
    QMenu* contextMenu_;
    std::array<QMenu*, 2> deviceMenus_{};
    QPointer<QMessageBox> about_;
};

} // namespace darq
