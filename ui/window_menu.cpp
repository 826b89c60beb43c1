#include "ui/window_menu.h"

#include "serial/port_assignment.h"
#include "serial/port_names.h"

#include <QAction>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>

namespace darq {

namespace {

// "FT232R USB UART (usb-FTDI_FT232R_USB_UART_A10KX3BQ-if00-port0)": what the adapter calls itself
// and the name that tells two alike apart. A device that tells nothing shows its path.
QString entryText(const SerialDevice& device) {
    const QString name =
        device.byIdPath.isEmpty() ? device.path : QFileInfo(device.byIdPath).fileName();
    QString text = device.description.isEmpty()
                       ? name
                       : QStringLiteral("%1 (%2)").arg(device.description, name);
    // A menu takes "&" as the mark of a shortcut letter.
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

WindowMenu::WindowMenu(QWidget* window)
    : QObject(window), window_(window), menu_(new QMenu(window)) {
    menu_->setObjectName(QStringLiteral("windowMenu"));
    for (int index = 0; index < int(deviceMenus_.size()); ++index) {
        deviceMenus_[index] = menu_->addMenu(tr("COM%1 device").arg(index + 1));
    }
    connect(menu_, &QMenu::aboutToShow, this, &WindowMenu::fillDeviceMenus);

    // A right-click that no control takes for a menu of its own passes up to the window.
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { menu_->popup(window_->mapToGlobal(position)); });
}

void WindowMenu::addAction(QAction* action) {
    if (menu_->actions().size() == int(deviceMenus_.size())) {
        menu_->addSeparator();
    }
    menu_->addAction(action);
}

void WindowMenu::fillDeviceMenus() {
    const QList<SerialDevice> devices = listSerialDevices();
    for (int commPort = 1; commPort <= int(deviceMenus_.size()); ++commPort) {
        fillDeviceMenu(commPort, devices);
    }
}

void WindowMenu::fillDeviceMenu(int commPort, const QList<SerialDevice>& devices) {
    QMenu* menu = deviceMenus_[commPort - 1];
    menu->clear();
    const CommPortDevice current = commPortDevice(commPort);
    const std::optional<SerialDevice> currentDevice = deviceBehind(current.device, devices);
    if (current.source == CommPortSource::Environment) {
        // The operator may still assign a device; it counts once the variable is gone.
        menu->addAction(tr("DARQ_COM%1 is set and comes first").arg(commPort))->setEnabled(false);
    }
    if (devices.isEmpty()) {
        menu->addAction(tr("No serial devices found"))->setEnabled(false);
    }
    for (const SerialDevice& device : devices) {
        QAction* choice = menu->addAction(entryText(device));
        choice->setCheckable(true);
        choice->setChecked(currentDevice && currentDevice->path == device.path);
        connect(choice, &QAction::triggered, this,
                [this, commPort, name = device.stableName()] { assign(commPort, name); });
    }
    menu->addSeparator();
    connect(menu->addAction(tr("Other device…")), &QAction::triggered, this,
            [this, commPort] { askForDevicePath(commPort); });
}

void WindowMenu::askForDevicePath(int commPort) {
    auto* dialog = new QInputDialog(window_);
    dialog->setObjectName(QStringLiteral("devicePathDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("COM%1 device").arg(commPort));
    dialog->setLabelText(
        tr("Device path for COM%1 (left empty, COM%1 is found automatically again):")
            .arg(commPort));
    dialog->setTextValue(commPortDevice(commPort).device);
    connect(dialog, &QInputDialog::textValueSelected, this, [this, commPort](const QString& text) {
        // A device udev names by id is remembered by that name, which it keeps in any socket.
        const QString path = text.trimmed();
        const std::optional<SerialDevice> device = deviceBehind(path, listSerialDevices());
        assign(commPort, device ? device->stableName() : path);
    });
    dialog->open();
}

void WindowMenu::assign(int commPort, const QString& device) {
    if (!assignDevice(commPort, device)) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, window_->windowTitle(),
                            tr("The device for COM%1 cannot be remembered: %2 cannot be written.")
                                .arg(commPort)
                                .arg(assignmentFile()),
                            QMessageBox::Ok, window_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    emit deviceAssigned(commPort);
}

} // namespace darq
