#pragma once

#include "read/read_options.h"
#include "serial/port_names.h"
#include "serial/serial_devices.h"

#include <QList>

#include <string>

namespace darq {

// darq-read --list-ports: the machine's serial devices, one each.
// - text: the device with its description, maker, USB id and serial number, its by-id link on an
//   indented line, then which device COM1 and COM2 mean now and why; "no serial devices found"
//   when there are none.
// - csv: the header device,by_id,description,manufacturer,usb_id,serial_number and one row each.
// - json: one array of objects with those fields, null where the device has none; [] when empty.
// `commPorts` are the devices of COM1 and COM2, in that order; only the text shows them.
std::string formatPortListing(OutputFormat format, const QList<SerialDevice>& devices,
                              const QList<CommPortDevice>& commPorts);

// Prints the listing of this machine's devices on stdout. Returns the exit status: 0, also when
// there are none, or 74 when the listing could not be written.
int listPorts(OutputFormat format);

} // namespace darq
