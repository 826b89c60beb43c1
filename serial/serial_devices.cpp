#include "serial/serial_devices.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <algorithm>
#include <tuple>

namespace darq {

namespace {

// udev's stable names for USB serial devices: the maker, the product and its serial number.
const QString kByIdDirectory = QStringLiteral("/dev/serial/by-id");

// "/dev/ttyUSB10" as ("/dev/ttyUSB", 10), so that ttyUSB2 sorts before ttyUSB10.
std::tuple<QString, qulonglong, QString> numericKey(const QString& path) {
    qsizetype digits = path.size();
    while (digits > 0 && path.at(digits - 1).isDigit()) {
        --digits;
    }
    return {path.left(digits), path.mid(digits).toULongLong(), path};
}

int listingRank(const SerialDevice& device) {
    if (!device.isPluggedAdapter()) {
        return 2;
    }
    return device.byIdPath.isEmpty() ? 1 : 0;
}

// Each real device with the link udev made for it; the first name wins when there are several.
QHash<QString, QString> byIdLinksByTarget() {
    QHash<QString, QString> links;
    const QFileInfoList entries =
        QDir(kByIdDirectory)
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString target = entry.canonicalFilePath();
        if (entry.isSymLink() && !target.isEmpty() && !links.contains(target)) {
            links.insert(target, entry.absoluteFilePath());
        }
    }
    return links;
}

} // namespace

bool SerialDevice::isPluggedAdapter() const {
    const QString name = QFileInfo(path).fileName();
    return !byIdPath.isEmpty() || name.startsWith(QLatin1String("ttyUSB")) ||
           name.startsWith(QLatin1String("ttyACM"));
}

QString SerialDevice::stableName() const {
    return byIdPath.isEmpty() ? path : byIdPath;
}

QString SerialDevice::usbId() const {
    if (!vendorId || !productId) {
        return {};
    }
    return QStringLiteral("%1:%2")
        .arg(*vendorId, 4, 16, QLatin1Char('0'))
        .arg(*productId, 4, 16, QLatin1Char('0'));
}

QList<SerialDevice> inListingOrder(QList<SerialDevice> devices) {
    std::stable_sort(devices.begin(), devices.end(),
                     [](const SerialDevice& one, const SerialDevice& other) {
                         const int oneRank = listingRank(one);
                         const int otherRank = listingRank(other);
                         if (oneRank != otherRank) {
                             return oneRank < otherRank;
                         }
                         if (one.byIdPath != other.byIdPath) {
                             return one.byIdPath < other.byIdPath;
                         }
                         return numericKey(one.path) < numericKey(other.path);
                     });
    return devices;
}

QList<SerialDevice> listSerialDevices() {
    const QHash<QString, QString> links = byIdLinksByTarget();
    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDevice device;
        device.path = info.systemLocation();
        const QString target = QFileInfo(device.path).canonicalFilePath();
        device.byIdPath = links.value(target.isEmpty() ? device.path : target);
        device.description = info.description();
        device.manufacturer = info.manufacturer();
        if (info.hasVendorIdentifier()) {
            device.vendorId = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            device.productId = info.productIdentifier();
        }
        device.serialNumber = info.serialNumber();
        device.driver = ttyDriver(device.path);
        devices << device;
    }
    return inListingOrder(devices);
}

QString ttyDriver(const QString& path, const QString& ttyClass) {
    // Since Linux 6.5 a UART's terminal hangs below a port and a controller of the serial core,
    // whose drivers ("port", "ctrl") say nothing: the hardware's driver is the first above them.
    QString device = QFileInfo(ttyClass + QLatin1Char('/') + QFileInfo(path).fileName() +
                               QStringLiteral("/device"))
                         .canonicalFilePath();
    while (!device.isEmpty()) {
        const QFileInfo driver(device + QStringLiteral("/driver"));
        if (!driver.isSymLink()) {
            return {};
        }
        const QString target = driver.symLinkTarget();
        if (!target.contains(QLatin1String("/bus/serial-base/"))) {
            return QFileInfo(target).fileName();
        }
        const QString parent = QFileInfo(device).path();
        if (parent == device) {
            return {};
        }
        device = parent;
    }
    return {};
}

std::optional<SerialDevice> deviceBehind(const QString& path, const QList<SerialDevice>& devices) {
    const QString target = QFileInfo(path).canonicalFilePath();
    for (const SerialDevice& device : devices) {
        if (device.path == path || device.path == target) {
            return device;
        }
    }
    return std::nullopt;
}

} // namespace darq
