#include "serial/port_names.h"

#include <QByteArray>
#include <QtGlobal>

namespace darq {

QString deviceForCommPort(int commPort) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(commPort);
#else
    const QByteArray variable = QByteArrayLiteral("DARQ_COM") + QByteArray::number(commPort);
    const QString configured = qEnvironmentVariable(variable.constData());
    if (!configured.isEmpty()) {
        return configured;
    }
    return QStringLiteral("/dev/ttyS%1").arg(commPort - 1);
#endif
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
