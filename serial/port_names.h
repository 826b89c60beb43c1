#pragma once

#include "serial/serial_devices.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace darq {

// Where the device behind COM1 or COM2 came from.
enum class CommPortSource {
    Environment, // DARQ_COMn
    Assignment,  // the operator's choice in the window
    Adapter,     // the plugged USB or ACM adapter of that rank
    Builtin,     // /dev/ttyS0 or /dev/ttyS1
    Windows,     // the Windows port of that name
};

struct CommPortDevice {
    QString device;
    CommPortSource source = CommPortSource::Builtin;
};

// What COM1 and COM2 mean on Linux, the first that applies: the environment variable DARQ_COMn; the
// device the operator assigned to the port, present or not; the first (COM1) or second (COM2)
// plugged adapter in listing order (by-id order); /dev/ttyS0 or /dev/ttyS1. The devices are listed
// only when they are needed.
CommPortDevice chooseCommPortDevice(int commPort, const QString& environment,
                                    const QString& assigned,
                                    const std::function<QList<SerialDevice>()>& listDevices);

// The device a port number denotes now, with where it came from. On Windows port n is "COMn".
// Asked again at each open, so that an adapter plugged in since is found.
CommPortDevice commPortDevice(int commPort);
QString deviceForCommPort(int commPort);

// A device named on a command line: "COM1" and "COM2" (either case) map as above, anything else
// is taken as a device path.
QString deviceForPortArgument(const QString& argument);

// A serial device server's raw TCP port, given as tcp://HOST:PORT: the line's bytes unchanged
// over a connection (RTU over TCP).
struct NetworkAddress {
    QString host;
    quint16 port = 0;
};

// Whether `device` names a network device at all (it starts with tcp://).
bool isNetworkDevice(const QString& device);
// Its host and port; none when it names no host or no port from 1 to 65535.
std::optional<NetworkAddress> networkAddress(const QString& device);

} // namespace darq
