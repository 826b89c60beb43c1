#include "serial/port_opening.h"

#include "serial/lock_files.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <optional>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// A bare terminal name such as "ttyUSB0" means the device under /dev, as the serial tools have it;
// any other name is a path as given, relative ones from the working directory.
QString devicePath(const QString& name) {
#ifdef Q_OS_UNIX
    if (!name.contains(QLatin1Char('/')) && name.startsWith(QLatin1String("tty"))) {
        return QStringLiteral("/dev/") + name;
    }
#endif
    return name;
}

#ifdef Q_OS_UNIX

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

// Writing requests to the system console or a virtual terminal puts bytes on someone's screen, not
// on a line to an instrument; opening the pseudo-terminal multiplexer makes a new terminal pair
// that nothing is connected to.
std::optional<QString> notALine(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return std::nullopt;
    }
    constexpr unsigned kVirtualTerminalMajor = 4; // tty0 to tty63; ttyS* follow from minor 64
    constexpr unsigned kTtyAuxMajor = 5;          // /dev/tty, /dev/console, /dev/ptmx
    constexpr unsigned kPtmxMinor = 2;
    const unsigned deviceMajor = major(info.st_rdev);
    const unsigned deviceMinor = minor(info.st_rdev);
    if ((deviceMajor == kVirtualTerminalMajor && deviceMinor < 64) ||
        (deviceMajor == kTtyAuxMajor && deviceMinor <= 1)) {
        return PortWords::tr("the system console or a virtual terminal, not a serial line");
    }
    if (deviceMajor == kTtyAuxMajor && deviceMinor == kPtmxMinor) {
        return PortWords::tr("the pseudo-terminal multiplexer, not a serial line");
    }
    return std::nullopt;
}

bool hungUp(const QSerialPort& port) {
    pollfd state{static_cast<int>(port.handle()), POLLOUT, 0};
    return ::poll(&state, 1, 0) < 0 || (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// A path that is no terminal at all fails deep inside QSerialPort with "Inappropriate ioctl for
// device"; the operator is better told what the path is. What its inode shows is told before the
// open, so that no lock file is made for it: a second program pointed at /dev/null by the same
// mistake would otherwise find that lock and call the device occupied.
std::optional<QString> notADeviceForALine(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0) {
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        return PortWords::tr("not a serial device but a directory");
    }
    if (S_ISREG(info.st_mode)) {
        return PortWords::tr("not a serial device but a regular file");
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return PortWords::tr("not a serial device but a pipe or socket");
    }
    constexpr unsigned kMemoryDevicesMajor = 1; // /dev/null, /dev/zero, /dev/full, /dev/random
    if (S_ISCHR(info.st_mode) && major(info.st_rdev) == kMemoryDevicesMajor) {
        return PortWords::tr("not a serial device");
    }
    return std::nullopt;
}

// Any other character device is a terminal or not only as its driver says, once it is open.
std::optional<QString> notATerminal(const QString& device) {
    if (const std::optional<QString> what = notADeviceForALine(device)) {
        return what;
    }
    const int descriptor =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    const bool terminal = ::isatty(descriptor) == 1;
    ::close(descriptor);
    if (!terminal) {
        return PortWords::tr("not a serial device");
    }
    return std::nullopt;
}

#endif

// RTS on for each send and off after it, the delays as asked.
PortError switchToRs485(QSerialPort& port, const QString& device, const Rs485Mode& mode) {
    const PortError noMode{
        PortError::Kind::Other, device,
        PortWords::tr("no RS-485 mode in its driver (a USB adapter that switches its transmitter "
                      "by itself, or a pseudo-terminal): such adapters need no --rs485")};
#ifdef Q_OS_LINUX
    serial_rs485 config{};
    config.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    config.delay_rts_before_send = static_cast<__u32>(mode.delayBeforeSendMs);
    config.delay_rts_after_send = static_cast<__u32>(mode.delayAfterSendMs);
    const int result = ::ioctl(static_cast<int>(port.handle()), TIOCSRS485, &config);
    const int error = errno;
    // The kernel hands back what it took: a driver may take the call and leave the mode off.
    if (result == 0) {
        return (config.flags & SER_RS485_ENABLED) != 0 ? PortError{} : noMode;
    }
    // A driver without the mode answers ENOTTY, on older kernels EINVAL.
    if (error == ENOTTY || error == EINVAL) {
        return noMode;
    }
    return {PortError::Kind::Other, device,
            PortWords::tr("cannot switch to RS-485 mode: %1")
                .arg(QString::fromLocal8Bit(std::strerror(error)))};
#else
    Q_UNUSED(port);
    Q_UNUSED(mode);
    return noMode;
#endif
}

// QSerialPort reports a device another program holds and one we may not use alike, as
// PermissionError: the device and its lock file tell them apart.
PortError classifyOpenFailure(const QSerialPort& port, const QString& device) {
    const QSerialPort::SerialPortError error = port.error();
#ifdef Q_OS_UNIX
    if (error == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(device)) {
        return {PortError::Kind::NotFound, device, PortWords::tr("no such device")};
    }
    // Only when the system refused the open itself: a directory we may not write to fails for
    // being a directory, and joining a group would not make it a serial port.
    if (error == QSerialPort::PermissionError && accessDenied(device)) {
        const QString group = owningGroup(device);
        return {PortError::Kind::PermissionDenied, device,
                group.isEmpty() ? QString() : PortWords::tr("owned by group '%1'").arg(group)};
    }
    if (const std::optional<LockHolder> holder = liveLockHolder(device)) {
        return {PortError::Kind::Occupied, device, describeHolder(*holder)};
    }
    if (error == QSerialPort::PermissionError && heldExclusively(device)) {
        return {PortError::Kind::Occupied, device,
                PortWords::tr("opened exclusively, without a lock file")};
    }
    if (const std::optional<QString> blocked = unreadableLockFile(device)) {
        return {PortError::Kind::Other, device, *blocked};
    }
    if (const std::optional<QString> what = notATerminal(device)) {
        return {PortError::Kind::Other, device, *what};
    }
#else
    if (error == QSerialPort::DeviceNotFoundError) {
        return {PortError::Kind::NotFound, device, PortWords::tr("no such device")};
    }
    // Windows refuses a second open of a COM port with "access denied".
    if (error == QSerialPort::PermissionError) {
        return {PortError::Kind::Occupied, device, port.errorString()};
    }
#endif
    return {PortError::Kind::Other, device, PortWords::tr("cannot open: ") + port.errorString()};
}

} // namespace

PortError openSerialDevice(QSerialPort& port, const QString& device, const LineSettings& settings,
                           const std::optional<Rs485Mode>& rs485) {
    if (port.isOpen()) {
        port.close();
    }
    const QString path = devicePath(device);
#ifdef Q_OS_UNIX
    // The checks and QSerialPort's own lock file go by the device itself, not by the name of a
    // link to it: two programs that open one device under two names must still see each other.
    if (!QFileInfo::exists(path)) {
        return {PortError::Kind::NotFound, path, PortWords::tr("no such device")};
    }
    if (const std::optional<QString> what = notALine(path)) {
        return {PortError::Kind::Other, path, *what};
    }
    // A path we may not use is told as such by the open below, whatever its kind.
    if (!accessDenied(path)) {
        if (const std::optional<QString> what = notADeviceForALine(path)) {
            return {PortError::Kind::Other, path, *what};
        }
    }
    // A lock file the program holding the device wrote in the old UUCP format looks stale to
    // QLockFile, which would delete it and share the line.
    if (const std::optional<LockHolder> holder = liveLockHolder(path)) {
        return {PortError::Kind::Occupied, path, describeHolder(*holder)};
    }
    port.setPortName(QFileInfo(path).canonicalFilePath());
#else
    port.setPortName(path);
#endif
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
                   PortWords::tr("cannot switch flow control off: ") + port.errorString()};
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
    // After RTS was set: from here on the kernel drives it.
    if (rs485) {
        const PortError refused = switchToRs485(port, path, *rs485);
        if (refused.isError()) {
            port.close();
            return refused;
        }
    }
    return {};
}

std::optional<PortError> lostPortError(const QSerialPort& port, QSerialPort::SerialPortError error,
                                       const QString& device) {
    switch (error) {
    case QSerialPort::ResourceError:
#ifdef Q_OS_UNIX
        // Qt reports a device that takes no more bytes for now (EAGAIN on a full output buffer)
        // as a resource error too; that device is still there. A removed or hung-up one polls
        // as hung up.
        if (!hungUp(port)) {
            return std::nullopt;
        }
#endif
        return PortError{PortError::Kind::Lost, device,
                         PortWords::tr("the device was removed: ") + port.errorString()};
    case QSerialPort::ReadError:
        // A hung-up line reads as end of file, and the error text left over says nothing true.
        return PortError{PortError::Kind::Lost, device,
                         PortWords::tr("the line was hung up or the device removed")};
    default:
        return std::nullopt;
    }
}

PortError applyLineSettings(QSerialPort& port, const LineSettings& settings) {
    const auto refused = [&port](const QString& what) {
        return PortError{
            PortError::Kind::InvalidSettings, devicePath(port.portName()),
            PortWords::tr("the device does not take %1: %2").arg(what, port.errorString())};
    };
    if (!port.setBaudRate(settings.baudRate)) {
        return refused(PortWords::tr("the rate %1").arg(settings.baudRate));
    }
    if (!port.setDataBits(qtDataBits(settings.dataBits))) {
        return refused(PortWords::tr("%1 data bits").arg(settings.dataBits));
    }
    if (!port.setParity(qtParity(settings.parity))) {
        return refused(PortWords::tr("the parity"));
    }
    if (!port.setStopBits(qtStopBits(settings.stopBits))) {
        return refused(PortWords::tr("%1 stop bits").arg(settings.stopBits));
    }
    return {};
}

} // namespace darq
