#include "serial/port_error.h"

namespace darq {

namespace {

QString whatWentWrong(PortError::Kind kind) {
    switch (kind) {
    case PortError::Kind::None:
        return {};
    case PortError::Kind::NotFound:
        return PortWords::tr("not found");
    case PortError::Kind::Occupied:
        return PortWords::tr("occupied by another program");
    case PortError::Kind::PermissionDenied:
        return PortWords::tr("permission denied");
    case PortError::Kind::Lost:
        return PortWords::tr("port lost while open, now closed");
    case PortError::Kind::NotOpen:
        return PortWords::tr("port not open");
    case PortError::Kind::InvalidSettings:
        return PortWords::tr("settings refused");
    case PortError::Kind::Other:
        break;
    }
    return PortWords::tr("error");
}

} // namespace

QString PortError::message() const {
    if (kind == Kind::None) {
        return {};
    }
    const QString where = device.isEmpty() ? PortWords::tr("serial port") : device;
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
        line += PortWords::tr(": join the group that owns the device ('dialout' on Debian) and "
                              "log in again");
    }
    return line;
}

} // namespace darq
