#include "serial/port_opening.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace darq {

namespace {

QSerialPort::Parity qtParity(Parity parity) {
    switch (parity) {
    case Parity::None:
        return QSerialPort::NoParity;
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::DataBits qtDataBits(int dataBits) {
    switch (dataBits) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    default:
        return QSerialPort::Data8;
    }
}

QSerialPort::StopBits qtStopBits(int stopBits) {
    return stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
}

// QSerialPort takes a bare name such as "ttyUSB0" as a device under /dev; the checks below and
// the messages need the path itself.
QString devicePath(const QString& name) {
#ifdef Q_OS_UNIX
    if (!name.startsWith(QLatin1Char('/')) && !name.startsWith(QLatin1String("./")) &&
        !name.startsWith(QLatin1String("../"))) {
        return QStringLiteral("/dev/") + name;
    }
#endif
    return name;
}

#ifdef Q_OS_UNIX

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

struct LockHolder {
    qint64 pid = 0;
    QString program;
};

// A lock file whose process has died is stale and does not stop QSerialPort; only a live holder
// means another program has the device. A program that opened the device under a symbolic link
// locked the link's name and one that opened the target locked the target's: both are looked at.
std::optional<LockHolder> liveLockHolder(const QString& device) {
    QStringList names{lockFileName(device)};
    const QString target = QFileInfo(device).canonicalFilePath();
    if (!target.isEmpty() && target != device) {
        names << lockFileName(target);
    }
    for (const char* directory : kLockDirectories) {
        for (const QString& name : names) {
            QFile lock(QString::fromLatin1(directory) + QLatin1Char('/') + name);
            if (!lock.open(QIODevice::ReadOnly)) {
                continue;
            }
            // QLockFile and the older UUCP lock files alike begin with the holder's process id
            // written in decimal.
            const QList<QByteArray> words = lock.readLine(128).simplified().split(' ');
            bool isNumber = false;
            const qint64 pid = words.value(0).toLongLong(&isNumber);
            if (isNumber && pid > 0 && processIsAlive(pid)) {
                return LockHolder{pid, programName(pid)};
            }
        }
    }
    return std::nullopt;
}

QString describeHolder(const LockHolder& holder) {
    if (holder.pid == QCoreApplication::applicationPid()) {
        return QStringLiteral("lock held by this program itself, process %1").arg(holder.pid);
    }
    QString text = QStringLiteral("lock held by process %1").arg(holder.pid);
    if (!holder.program.isEmpty()) {
        text += QStringLiteral(", ") + holder.program;
    }
    return text;
}

bool accessDenied(const QString& device) {
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0) {
        return false;
    }
    return errno == EACCES || errno == EPERM || errno == EROFS;
}

QString owningGroup(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0) {
        return {};
    }
    if (const struct group* entry = ::getgrgid(info.st_gid)) {
        return QString::fromLocal8Bit(entry->gr_name);
    }
    return QString::number(info.st_gid);
}

// A program that opened the device exclusively (TIOCEXCL) without a lock file makes every
// further open by an ordinary user fail with EBUSY.
bool heldExclusively(const QString& device) {
    const int descriptor =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor >= 0) {
        ::close(descriptor);
        return false;
    }
    return errno == EBUSY;
}

// A path that is no terminal at all fails deep inside QSerialPort with "Inappropriate ioctl for
// device"; the operator is better told what the path is.
std::optional<QString> notATerminal(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0) {
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        return QStringLiteral("not a serial device but a directory");
    }
    if (S_ISREG(info.st_mode)) {
        return QStringLiteral("not a serial device but a regular file");
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return QStringLiteral("not a serial device but a pipe or socket");
    }
    const int descriptor =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    const bool terminal = ::isatty(descriptor) == 1;
    ::close(descriptor);
    if (!terminal) {
        return QStringLiteral("not a serial device");
    }
    return std::nullopt;
}

#endif

// QSerialPort reports a device another program holds and one we may not use alike, as
// PermissionError: the device and its lock file tell them apart.
PortError classifyOpenFailure(const QSerialPort& port, const QString& device) {
    const QSerialPort::SerialPortError error = port.error();
#ifdef Q_OS_UNIX
    if (error == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(device)) {
        return {PortError::Kind::NotFound, device, QStringLiteral("no such device")};
    }
    // Only when the system refused the open itself: a directory we may not write to fails for
    // being a directory, and joining a group would not make it a serial port.
    if (error == QSerialPort::PermissionError && accessDenied(device)) {
        const QString group = owningGroup(device);
        return {PortError::Kind::PermissionDenied, device,
                group.isEmpty() ? QString() : QStringLiteral("owned by group '%1'").arg(group)};
    }
    if (const std::optional<LockHolder> holder = liveLockHolder(device)) {
        return {PortError::Kind::Occupied, device, describeHolder(*holder)};
    }
    if (error == QSerialPort::PermissionError && heldExclusively(device)) {
        return {PortError::Kind::Occupied, device,
                QStringLiteral("opened exclusively, without a lock file")};
    }
    if (const std::optional<QString> what = notATerminal(device)) {
        return {PortError::Kind::Other, device, *what};
    }
#else
    if (error == QSerialPort::DeviceNotFoundError) {
        return {PortError::Kind::NotFound, device, QStringLiteral("no such device")};
    }
    // Windows refuses a second open of a COM port with "access denied".
    if (error == QSerialPort::PermissionError) {
        return {PortError::Kind::Occupied, device, port.errorString()};
    }
#endif
    return {PortError::Kind::Other, device, QStringLiteral("cannot open: ") + port.errorString()};
}

} // namespace

PortError openSerialDevice(QSerialPort& port, const QString& device, const LineSettings& settings) {
    if (port.isOpen()) {
        port.close();
    }
    const QString path = devicePath(device);
    port.setPortName(path);
    // Stored while closed and put in force by open(), so the line comes up as the instrument
    // expects it.
    port.setBaudRate(settings.baudRate);
    port.setDataBits(qtDataBits(settings.dataBits));
    port.setParity(qtParity(settings.parity));
    port.setStopBits(qtStopBits(settings.stopBits));
    port.setFlowControl(QSerialPort::NoFlowControl);

    if (!port.open(QIODevice::ReadWrite)) {
        return classifyOpenFailure(port, path);
    }

    // Check what the device actually took rather than trusting open().
    PortError refused = applyLineSettings(port, settings);
    if (!refused.isError() && !port.setFlowControl(QSerialPort::NoFlowControl)) {
        refused = {PortError::Kind::Other, path,
                   QStringLiteral("cannot switch flow control off: ") + port.errorString()};
    }
    if (refused.isError()) {
        port.close();
        refused.device = path;
        return refused;
    }

    // A pseudo-terminal, and many adapters, have no modem lines: setting DTR and RTS fails there
    // and the line works all the same, so these two results do not count. Their failure leaves
    // a sticky error in the port, which is cleared so that it misleads no one.
    port.setDataTerminalReady(true);
    port.setRequestToSend(false);
    port.clearError();
    return {};
}

std::optional<PortError> lostPortError(const QSerialPort& port, QSerialPort::SerialPortError error,
                                       const QString& device) {
    switch (error) {
    case QSerialPort::ResourceError:
        return PortError{PortError::Kind::Lost, device,
                         QStringLiteral("the device was removed: ") + port.errorString()};
    case QSerialPort::ReadError:
        // A hung-up line reads as end of file, and the error text left over says nothing true.
        return PortError{PortError::Kind::Lost, device,
                         QStringLiteral("the line was hung up or the device removed")};
    default:
        return std::nullopt;
    }
}

PortError applyLineSettings(QSerialPort& port, const LineSettings& settings) {
    const auto refused = [&port](const QString& what) {
        return PortError{
            PortError::Kind::InvalidSettings, devicePath(port.portName()),
            QStringLiteral("the device does not take %1: %2").arg(what, port.errorString())};
    };
    if (!port.setBaudRate(settings.baudRate)) {
        return refused(QStringLiteral("the rate %1").arg(settings.baudRate));
    }
    if (!port.setDataBits(qtDataBits(settings.dataBits))) {
        return refused(QStringLiteral("%1 data bits").arg(settings.dataBits));
    }
    if (!port.setParity(qtParity(settings.parity))) {
        return refused(QStringLiteral("the parity"));
    }
    if (!port.setStopBits(qtStopBits(settings.stopBits))) {
        return refused(QStringLiteral("%1 stop bits").arg(settings.stopBits));
    }
    return {};
}

} // namespace darq
