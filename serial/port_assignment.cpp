#include "serial/port_assignment.h"

#include <QSettings>

namespace darq {

namespace {

// Fixed here rather than taken from the application, so that every program reads the same file.
const QString kOrganisation = QStringLiteral("darq");
const QString kApplication = QStringLiteral("darq-flowtest");

QString settingsKey(int commPort) {
    return QStringLiteral("ports/COM%1").arg(commPort);
}

} // namespace

QString assignedDevice(int commPort) {
    const QSettings settings(kOrganisation, kApplication);
    return settings.value(settingsKey(commPort)).toString();
}

bool assignDevice(int commPort, const QString& device) {
    QSettings settings(kOrganisation, kApplication);
    if (device.isEmpty()) {
        settings.remove(settingsKey(commPort));
    } else {
        settings.setValue(settingsKey(commPort), device);
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString assignmentFile() {
    return QSettings(kOrganisation, kApplication).fileName();
}

} // namespace darq
