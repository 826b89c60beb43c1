#include "serial/lock_files.h"

#include "serial/port_error.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <signal.h>

namespace darq {

namespace {

// QSerialPort locks a device with a QLockFile named "LCK.." followed by the device path without
// its "/dev/" prefix, slashes turned into underscores, in the first of these directories it can
// use. Which one that is may differ between users, so all of them are looked at.
const char* const kLockDirectories[] = {
    "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
    "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock",
};

QString lockFileName(const QString& device) {
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

bool processIsAlive(qint64 pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

QString programName(qint64 pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

// The lock files that may stand for the device. A program that opened it under a symbolic link
// locked the link's name and one that opened the target locked the target's: both count.
QStringList candidateLockFiles(const QString& device) {
    QStringList names{lockFileName(device)};
    const QString target = QFileInfo(device).canonicalFilePath();
    if (!target.isEmpty() && target != device) {
        names << lockFileName(target);
    }
    QStringList files;
    for (const char* directory : kLockDirectories) {
        for (const QString& name : names) {
            const QString file = QString::fromLatin1(directory) + QLatin1Char('/') + name;
            if (QFileInfo::exists(file)) {
                files << file;
            }
        }
    }
    return files;
}

// QLockFile ("1234\nprogram\nhost\n") and the UUCP lock files of minicom, cu and lockdev (the
// process id as ten right-aligned digits, "      1234\n") alike begin with the holder's process id
// in decimal. Anything else names no process.
std::optional<qint64> lockHolderPid(const QString& lockFile) {
    QFile lock(lockFile);
    if (!lock.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QList<QByteArray> words = lock.readLine(128).simplified().split(' ');
    bool isNumber = false;
    const qint64 pid = words.value(0).toLongLong(&isNumber);
    if (!isNumber || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

} // namespace

std::optional<LockHolder> liveLockHolder(const QString& device) {
    for (const QString& file : candidateLockFiles(device)) {
        const std::optional<qint64> pid = lockHolderPid(file);
        if (pid && processIsAlive(*pid)) {
            return LockHolder{*pid, programName(*pid)};
        }
    }
    return std::nullopt;
}

std::optional<QString> unreadableLockFile(const QString& device) {
    for (const QString& file : candidateLockFiles(device)) {
        const QFileInfo info(file);
        QString what;
        if (info.isDir()) {
            what = PortWords::tr("a directory");
        } else if (!info.isReadable()) {
            what = PortWords::tr("not readable");
        } else if (info.size() == 0) {
            what = PortWords::tr("empty");
        } else if (!lockHolderPid(file)) {
            what = PortWords::tr("no process number in it");
        } else {
            continue;
        }
        return PortWords::tr("blocked by the lock file %1, which cannot be read (%2): remove it "
                             "if no program uses the device")
            .arg(file, what);
    }
    return std::nullopt;
}

QString describeHolder(const LockHolder& holder) {
    if (holder.pid == QCoreApplication::applicationPid()) {
        return PortWords::tr("lock held by this program itself, process %1").arg(holder.pid);
    }
    QString text = PortWords::tr("lock held by process %1").arg(holder.pid);
    if (!holder.program.isEmpty()) {
        text += QStringLiteral(", ") + holder.program;
    }
    return text;
}

} // namespace darq
