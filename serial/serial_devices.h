#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace darq {

// One serial device of this machine, as the operator would recognise it.
struct SerialDevice {
    QString path;         // /dev/ttyUSB0
    QString byIdPath;     // /dev/serial/by-id/usb-FTDI_…-if00-port0; empty when udev made none
    QString description;  // "FT232R USB UART"
    QString manufacturer; // "FTDI"
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString serialNumber;
    QString driver; // the kernel's driver of the port: ftdi_sio, ch341, cdc_acm; empty if none

    // A USB adapter or a USB modem-class (ACM) device: the devices a technician plugs in.
    bool isPluggedAdapter() const;
    // The name that still finds this device after it is plugged into another USB socket.
    QString stableName() const;
    // "0403:6001", or empty when the device has no USB identity.
    QString usbId() const;
};

// Plugged adapters first, in the order of their /dev/serial/by-id names (adapters without one
// after them), then the other devices; device numbers in numeric order (ttyS2 before ttyS10).
QList<SerialDevice> inListingOrder(QList<SerialDevice> devices);

// The machine's serial devices in listing order, with their /dev/serial/by-id links and drivers.
QList<SerialDevice> listSerialDevices();

// The driver of the terminal device `path`, by the link `ttyClass`/<name>/device/driver (the
// directory /sys/class/tty by default), or above it where that is the serial core's own; empty
// when it has none.
QString ttyDriver(const QString& path, const QString& ttyClass = QStringLiteral("/sys/class/tty"));

// The listed device `path` leads to, itself or through a link; none when it leads to none of them.
std::optional<SerialDevice> deviceBehind(const QString& path, const QList<SerialDevice>& devices);

} // namespace darq
