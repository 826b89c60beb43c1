#include "ui/window_menu.h"

#include "serial/port_assignment.h"
#include "serial/port_names.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
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

WindowMenu::WindowMenu(QWidget* window, QMenuBar* menuBar)
    : QObject(window), window_(window), contextMenu_(new QMenu(window)) {
    for (int index = 0; index < int(deviceMenus_.size()); ++index) {
        const int commPort = index + 1;
        QMenu* devices = new QMenu(tr("COM%1 device").arg(commPort), window);
        devices->setObjectName(QStringLiteral("com%1DeviceMenu").arg(commPort));
        // Listed as the menu opens, so that an adapter plugged in since is there.
        connect(devices, &QMenu::aboutToShow, this,
                [this, commPort] { fillDeviceMenu(commPort, listSerialDevices()); });
        deviceMenus_[index] = devices;
    }

    auto* findInstrument = new QAction(tr("Find instrument…"), this);
    findInstrument->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(findInstrument, &QAction::triggered, this, &WindowMenu::findInstrumentChosen);
    auto* trafficLog = new QAction(tr("Traffic log"), this);
    trafficLog->setShortcut(Qt::Key_F12);
    connect(trafficLog, &QAction::triggered, this, &WindowMenu::trafficLogChosen);
    auto* trend = new QAction(tr("Trend"), this);
    trend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(trend, &QAction::triggered, this, &WindowMenu::trendChosen);
    auto* about = new QAction(tr("About darq-flowtest"), this);
    connect(about, &QAction::triggered, this, &WindowMenu::showAbout);

    QMenu* device = menuBar->addMenu(tr("&Device"));
    device->addAction(findInstrument);
    device->addSeparator();
    for (QMenu* devices : deviceMenus_) {
        device->addMenu(devices);
    }
    QMenu* view = menuBar->addMenu(tr("&View"));
    view->addAction(trafficLog);
    view->addAction(trend);
    menuBar->addMenu(tr("&Help"))->addAction(about);

    contextMenu_->setObjectName(QStringLiteral("windowMenu"));
    for (QMenu* devices : deviceMenus_) {
        contextMenu_->addMenu(devices);
    }
    contextMenu_->addSeparator();
    contextMenu_->addAction(findInstrument);
    contextMenu_->addAction(trafficLog);
    contextMenu_->addAction(trend);

    // The keys work with every menu closed, wherever the focus is in the window.
    window->addActions({findInstrument, trafficLog, trend});

    // A right-click that no control takes for a menu of its own passes up to the window.
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        contextMenu_->popup(window_->mapToGlobal(position));
    });
    auto* contextMenuKey = new QAction(this);
    contextMenuKey->setShortcuts(
        {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)});
    connect(contextMenuKey, &QAction::triggered, this, &WindowMenu::openContextMenuFromKeyboard);
    window->addAction(contextMenuKey);
}

void WindowMenu::openContextMenuFromKeyboard() {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || target->window() != window_) {
        target = window_;
    }
    // Sent as the desktop sends it for the Menu key, where it does: the control with the focus
    // opens its own menu, or passes the event up to the window, which opens the window's.
    const QPoint centre = target->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, centre, target->mapToGlobal(centre));
    QApplication::sendEvent(target, &event);
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
        tr("Device path for COM%1, or tcp://HOST:PORT for a serial device server (left empty, "
           "COM%1 is found automatically again):")
            .arg(commPort));
    // The field starts from the operator's own assignment, not from whatever the port means now:
    // DARQ_COMn or the adapter found automatically would be pinned by a mere OK, and stay pinned
    // once the variable is gone or another adapter is plugged in.
    const QString assigned = assignedDevice(commPort);
    dialog->setTextValue(assigned);
    connect(dialog, &QInputDialog::textValueSelected, this,
            [this, commPort, assigned](const QString& text) {
                const QString path = text.trimmed();
                if (path == assigned) {
                    return;
                }
                // A device udev names by id is remembered by that name, which it keeps in any
                // socket.
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

void WindowMenu::showAbout() {
    if (!about_) {
        about_ = new QMessageBox(window_);
        about_->setObjectName(QStringLiteral("aboutBox"));
        about_->setAttribute(Qt::WA_DeleteOnClose);
        about_->setWindowTitle(tr("About darq-flowtest"));
        about_->setIconPixmap(window_->windowIcon().pixmap(64));
        about_->setTextFormat(Qt::PlainText);
        about_->setText(
            tr("darq-flowtest %1\n\nChecks the serial link to a DARQ flow totalizer.\n"
               "Licensed under the MIT licence.\n\n"
               "The devices assigned to COM1 and COM2 are kept in %2. Nothing else is kept "
               "between runs.")
                .arg(QStringLiteral(DARQ_VERSION), QDir::toNativeSeparators(assignmentFile())));
    }
    about_->open();
    about_->raise();
}

} // namespace darq
