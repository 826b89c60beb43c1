#include "serial/port_names.h"

#include "serial/port_assignment.h"

#include <QByteArray>
#include <QUrl>
#include <QtGlobal>

namespace darq {

CommPortDevice chooseCommPortDevice(int commPort, const QString& environment,
                                    const QString& assigned,
                                    const std::function<QList<SerialDevice>()>& listDevices) {
    if (!environment.isEmpty()) {
        return {environment, CommPortSource::Environment};
    }
    // A device the operator chose stays chosen while it is unplugged: opening it then says it is
    // missing, where another device quietly taking its place would read the wrong instrument.
    if (!assigned.isEmpty()) {
        return {assigned, CommPortSource::Assignment};
    }
    int rank = 0;
    for (const SerialDevice& device : inListingOrder(listDevices())) {
        if (device.isPluggedAdapter() && ++rank == commPort) {
            return {device.stableName(), CommPortSource::Adapter};
        }
    }
    return {QStringLiteral("/dev/ttyS%1").arg(commPort - 1), CommPortSource::Builtin};
}

CommPortDevice commPortDevice(int commPort) {
#ifdef Q_OS_WIN
    return {QStringLiteral("COM%1").arg(commPort), CommPortSource::Windows};
#else
    const QByteArray variable = QByteArrayLiteral("DARQ_COM") + QByteArray::number(commPort);
    return chooseCommPortDevice(commPort, qEnvironmentVariable(variable.constData()),
                                assignedDevice(commPort), listSerialDevices);
#endif
}

QString deviceForCommPort(int commPort) {
    return commPortDevice(commPort).device;
}

bool isNetworkDevice(const QString& device) {
    return device.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

std::optional<NetworkAddress> networkAddress(const QString& device) {
    const QUrl url(device, QUrl::StrictMode);
    if (!isNetworkDevice(device) || !url.isValid() || url.host().isEmpty() || url.port() < 1 ||
        !url.path().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty()) {
        return std::nullopt;
    }
    return NetworkAddress{url.host(), quint16(url.port())};
}

QString deviceForPortArgument(const QString& argument) {
    if (argument.compare(QStringLiteral("COM1"), Qt::CaseInsensitive) == 0) {
        return deviceForCommPort(1);
    }
    if (argument.compare(QStringLiteral("COM2"), Qt::CaseInsensitive) == 0) {
        return deviceForCommPort(2);
    }
    return argument;
}

} // namespace darq
