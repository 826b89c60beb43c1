#pragma once

#include "read/read_options.h"
#include "serial/port_names.h"
#include "serial/serial_devices.h"

#include <QList>
#include <QString>

#include <string>

namespace darq {

// darq-read --list-ports: the machine's serial devices, one each.
// - text: the device with its description, maker, USB id, serial number and driver, its by-id
//   link on an indented line, then which device COM1 and COM2 mean now and why; "no serial
//   devices found" when there are none.
// - csv: the header device,by_id,description,manufacturer,usb_id,serial_number,driver (left out
//   when `header` is false) and one row each.
// - json: one array of objects with those fields, null where the device has none; [] when empty.
// `commPorts` are the devices of COM1 and COM2, in that order; only the text shows them.
std::string formatPortListing(OutputFormat format, const QList<SerialDevice>& devices,
                              const QList<CommPortDevice>& commPorts, bool header = true);

// What on this machine keeps an adapter from showing up, from being usable or from being left
// alone.
struct MachineState {
    // Whether this user may use serial devices, which belong to the group dialout.
    enum class SerialAccess {
        Root,
        InGroup,
        AddedNotLoggedIn, // in the group, but not yet in this login's groups
        NotInGroup,
        NoGroup, // this machine has no group dialout
    };

    QString user;
    SerialAccess access = SerialAccess::InGroup;
    bool brlttyRunning = false;       // the braille driver, which claims some adapter chips
    bool modemManagerRunning = false; // probes new serial ports with AT commands
};

// This process's user and groups, and the processes running under `procRoot` (/proc by default).
MachineState probeMachine(const QString& procRoot = QStringLiteral("/proc"));

// Said under the listing: when no USB or ACM adapter is listed, the usual reasons (not plugged in,
// claimed by brltty, the dialout group), each as it stands here; when ModemManager runs, that it
// may probe the port and how to make it leave an adapter alone. Empty when there is nothing to say.
std::string portHints(const QList<SerialDevice>& devices, const MachineState& machine);

// Prints the listing of this machine's devices on stdout, and the hints after it (on stderr for
// csv and json, so that their output stays data). Returns the exit status: 0, 1 when there are
// no serial devices, or 74 when the listing could not be written.
int listPorts(const ReadOptions& options);

} // namespace darq
