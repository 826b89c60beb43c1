#include "serial/port_error.h"

#include <QCoreApplication>

namespace darq {

QString portWords(const char* source) {
    return QCoreApplication::translate("PortError", source);
}

namespace {

QString whatWentWrong(PortError::Kind kind) {
    switch (kind) {
    case PortError::Kind::None:
        return {};
    case PortError::Kind::NotFound:
        return portWords("not found");
    case PortError::Kind::Occupied:
        return portWords("occupied by another program");
    case PortError::Kind::PermissionDenied:
        return portWords("permission denied");
    case PortError::Kind::Lost:
        return portWords("port lost while open, now closed");
    case PortError::Kind::NotOpen:
        return portWords("port not open");
    case PortError::Kind::InvalidSettings:
        return portWords("settings refused");
    case PortError::Kind::Other:
        break;
    }
    return portWords("error");
}

} // namespace

QString PortError::message() const {
    if (kind == Kind::None) {
        return {};
    }
    const QString where = device.isEmpty() ? portWords("serial port") : device;
    // The reasons come partly from the operating system; the operator gets one line.
    const QString why = reason.simplified();

    QString line = where + QStringLiteral(": ");
    if (kind == Kind::Other && !why.isEmpty()) {
        line += why;
    } else {
        line += whatWentWrong(kind);
        if (!why.isEmpty()) {
            line += QStringLiteral(" (") + why + QLatin1Char(')');
        }
    }
    if (kind == Kind::PermissionDenied) {
        line += portWords(": join the group that owns the device ('dialout' on Debian) and "
                          "log in again");
    }
    return line;
}

} // namespace darq
