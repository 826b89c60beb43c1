#pragma once

#include "serial/line_settings.h"
#include "serial/port_error.h"

#include <QSerialPort>

#include <optional>

namespace darq {

// Opens `device` on `port` for reading and writing with the given line settings, no flow control,
// DTR raised and RTS low, or with `rs485` RTS left to the kernel's RS-485 mode. Modem lines that
// the device lacks (a pseudo-terminal has none) are not an error; a device without RS-485 mode
// is, when it was asked for. On failure the port is left closed and the result says why, telling
// apart a missing device, one another program holds and one we may not use.
PortError openSerialDevice(QSerialPort& port, const QString& device, const LineSettings& settings,
                           const std::optional<Rs485Mode>& rs485 = std::nullopt);

// Applies line settings to an open port, checking each call's own result. Returns an error of
// kind InvalidSettings or Other when the device refuses them.
PortError applyLineSettings(QSerialPort& port, const LineSettings& settings);

// Whether an error QSerialPort raised on the open `device` means the port is gone (the line hung
// up, the adapter pulled): then the Lost error to report, in the same words wherever it is seen.
// Other errors (a timeout, a refused modem line, a device that takes no more bytes for now) leave
// the line usable and give nothing.
std::optional<PortError> lostPortError(const QSerialPort& port, QSerialPort::SerialPortError error,
                                       const QString& device);

} // namespace darq
