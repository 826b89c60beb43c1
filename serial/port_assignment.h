#pragma once

#include <QString>

namespace darq {

// The device the operator assigned to COM1 or COM2 in the window, remembered for the user (in
// ~/.config/darq/darq-flowtest.conf) so that the window and darq-read find the same one. Linux has
// no COM numbering of its own; this choice is the only thing the tool remembers between runs.

// Empty when the operator has assigned nothing to the port.
QString assignedDevice(int commPort);
// An empty device forgets the assignment: the port is found automatically again. Returns false
// when the choice could not be written, and so does not hold.
bool assignDevice(int commPort, const QString& device);
// The file the assignments live in, for a message about it.
QString assignmentFile();

} // namespace darq
