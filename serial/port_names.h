#pragma once

#include <QString>

namespace darq {

// The device a port number denotes. On Windows port n is "COMn". On Linux the environment
// variable DARQ_COMn names the device when it is set (a USB adapter, a /dev/serial/by-id link, a
// virtual instrument's pseudo-terminal); otherwise port 1 is /dev/ttyS0 and port 2 /dev/ttyS1.
QString deviceForCommPort(int commPort);

// A device named on a command line: "COM1" and "COM2" (either case) map as above, anything else
// is taken as a device path.
QString deviceForPortArgument(const QString& argument);

} // namespace darq
