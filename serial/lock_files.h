#pragma once

#include <QString>

#include <optional>

namespace darq {

// The lock files that serial programs leave for a device they hold: QLockFile's, and the UUCP
// ones of minicom, cu and lockdev.

struct LockHolder {
    qint64 pid = 0;
    QString program;
};

// The live process that holds `device` (under its own name or a link's); none when no lock file
// names a live one. A lock file whose process has died is stale and stops nobody.
std::optional<LockHolder> liveLockHolder(const QString& device);

// A lock file that names no process (empty, garbage, a directory, unreadable) cannot be judged
// stale, so QSerialPort refuses the device: the reason to tell the operator, naming the file.
std::optional<QString> unreadableLockFile(const QString& device);

// "lock held by process 1234, minicom".
QString describeHolder(const LockHolder& holder);

} // namespace darq
