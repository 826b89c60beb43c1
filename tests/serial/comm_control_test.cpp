#include "instrument_end.h"
#include "serial/comm_control.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace darq {
namespace {

using testing::InstrumentEnd;
using testing::ScopedComPort;
using testing::waitFor;

std::string text(const QString& message) {
    return message.toStdString();
}

// Another program that holds the device: a child process that opens it with QSerialPort, as
// this tool does, and keeps it open until told to go. It then leaves its lock file behind, as a
// program that crashed would. The test's own descriptor keeps the device from being torn down,
// which would let the exclusive-open flag outlive the child, so the child drops that flag first.
class PortHolder {
public:
    explicit PortHolder(const QString& device) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            holdUntilTerminated(device, ready[1]);
        }
        ::close(ready[1]);
        char opened = '0';
        pollfd answer{ready[0], POLLIN, 0};
        if (::poll(&answer, 1, 5000) == 1 && ::read(ready[0], &opened, 1) == 1) {
            opened_ = opened == '1';
        }
        ::close(ready[0]);
    }
    ~PortHolder() { release(); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    bool opened() const { return opened_; }
    pid_t pid() const { return pid_; }
    void release() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        for (int waited = 0; waited < 200; ++waited) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            ::usleep(10000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    [[noreturn]] static void holdUntilTerminated(const QString& device, int ready) {
        for (int descriptor = 3; descriptor < 1024; ++descriptor) {
            if (descriptor != ready) {
                ::close(descriptor);
            }
        }
        sigset_t terminate;
        sigemptyset(&terminate);
        sigaddset(&terminate, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &terminate, nullptr);

        QSerialPort port(device);
        const char opened = port.open(QIODevice::ReadWrite) ? '1' : '0';
        [[maybe_unused]] const ssize_t written = ::write(ready, &opened, 1);
        int signal = 0;
        ::sigwait(&terminate, &signal);
        ::ioctl(port.handle(), TIOCNXCL);
        ::_exit(0);
    }

    pid_t pid_ = -1;
    bool opened_ = false;
};

TEST(CommControl, ToggleOpensTheLineForTheInstrumentAndClosesIt) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    QSignalSpy openChanges(&port, &CommControl::portOpenChanged);

    ASSERT_TRUE(port.toggle()) << text(port.lastError().message());
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(port.deviceName(), line.devicePath());
    const termios settings = line.lineSettings();
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(settings.c_cflag & CSTOPB);
    EXPECT_FALSE(settings.c_cflag & PARENB);
    EXPECT_FALSE(settings.c_cflag & CRTSCTS);
    EXPECT_FALSE(settings.c_iflag & (IXON | IXOFF));

    EXPECT_FALSE(port.toggle());
    EXPECT_FALSE(port.PortOpen());
    ASSERT_EQ(openChanges.count(), 2);
    EXPECT_TRUE(openChanges.at(0).at(0).toBool());
    EXPECT_FALSE(openChanges.at(1).at(0).toBool());

    // Closing released the device: another control can have it now.
    CommControl other;
    EXPECT_TRUE(other.open()) << text(other.lastError().message());
}

TEST(CommControl, ApplyRateFollowsTheRateList) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    ASSERT_TRUE(port.open()) << text(port.lastError().message());

    struct Case {
        int listPosition;
        const char* settings;
        speed_t speed;
    };
    const Case cases[] = {
        {0, "1200,n,8,2", B1200}, {1, "2400,n,8,2", B2400},  {2, "4800,n,8,2", B4800},
        {3, "9600,n,8,2", B9600}, {-1, "9600,n,8,2", B9600}, {4, "9600,n,8,2", B9600},
        {1, "2400,n,8,2", B2400},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.listPosition);
        ASSERT_TRUE(port.applyRate(row.listPosition)) << text(port.lastError().message());
        EXPECT_EQ(port.Settings(), row.settings);
        EXPECT_TRUE(port.PortOpen());
        const termios settings = line.lineSettings();
        EXPECT_EQ(cfgetospeed(&settings), row.speed);
        EXPECT_EQ(cfgetispeed(&settings), row.speed);
        EXPECT_TRUE(settings.c_cflag & CSTOPB);
    }

    // On a closed port the rate waits for the next open.
    port.close();
    ASSERT_TRUE(port.applyRate(0));
    EXPECT_FALSE(port.PortOpen());
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    const termios settings = line.lineSettings();
    EXPECT_EQ(cfgetospeed(&settings), B1200);
}

TEST(CommControl, SwitchPortMovesToTheOtherDevice) {
    InstrumentEnd first;
    InstrumentEnd second;
    ScopedComPort com1(1, first.devicePath());
    ScopedComPort com2(2, second.devicePath());
    CommControl port;
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    QSignalSpy openChanges(&port, &CommControl::portOpenChanged);

    ASSERT_TRUE(port.switchPort(1)) << text(port.lastError().message());
    EXPECT_EQ(port.CommPort(), 2);
    EXPECT_EQ(port.deviceName(), second.devicePath());
    ASSERT_EQ(openChanges.count(), 2);
    EXPECT_FALSE(openChanges.at(0).at(0).toBool());
    EXPECT_TRUE(openChanges.at(1).at(0).toBool());

    ASSERT_TRUE(port.setOutput(QByteArray("\x01\x02", 2)));
    ASSERT_TRUE(waitFor([&] { return second.received().size() == 2; }));
    EXPECT_TRUE(first.received().empty());

    ASSERT_TRUE(port.switchPort(0)) << text(port.lastError().message());
    EXPECT_EQ(port.CommPort(), 1);
    ASSERT_TRUE(port.setOutput(QByteArray("\x03", 1)));
    ASSERT_TRUE(waitFor([&] { return first.received().size() == 1; }));
    EXPECT_EQ(second.received().size(), 2u);

    // The port number only changes on a closed port.
    EXPECT_FALSE(port.setCommPort(2));
    EXPECT_EQ(port.CommPort(), 1);
}

TEST(CommControl, DeviceHeldByAnotherProgramIsOccupied) {
    InstrumentEnd held;
    InstrumentEnd free;
    ScopedComPort com1(1, free.devicePath());
    ScopedComPort com2(2, held.devicePath());
    PortHolder holder(held.devicePath());
    ASSERT_TRUE(holder.opened());

    CommControl port;
    ASSERT_TRUE(port.open()) << text(port.lastError().message());
    EXPECT_FALSE(port.switchPort(1));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.CommPort(), 2);
    const PortError error = port.lastError();
    EXPECT_EQ(error.kind, PortError::Kind::Occupied);
    EXPECT_EQ(error.device, held.devicePath());
    const QString expected =
        QStringLiteral("%1: occupied by another program (lock held by process %2")
            .arg(held.devicePath())
            .arg(holder.pid());
    EXPECT_TRUE(error.message().startsWith(expected)) << text(error.message());

    // Once the other program is gone its stale lock does not count.
    holder.release();
    EXPECT_TRUE(port.open()) << text(port.lastError().message());
}

TEST(CommControl, MissingDeviceIsNotFound) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString dangling = directory.filePath("com1");
    ASSERT_EQ(::symlink("/dev/darq-vanished-adapter", dangling.toLocal8Bit().constData()), 0);

    const QString missing[] = {QStringLiteral("/dev/darq-no-such-port"), dangling};
    for (const QString& device : missing) {
        SCOPED_TRACE(text(device));
        ScopedComPort com1(1, device);
        CommControl port;
        EXPECT_FALSE(port.open());
        EXPECT_FALSE(port.PortOpen());
        EXPECT_EQ(port.lastError().kind, PortError::Kind::NotFound);
        EXPECT_EQ(port.lastError().message(), device + ": not found (no such device)");
    }
}

TEST(CommControl, DeviceWeMayNotUseIsPermissionDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may open any device";
    }
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString device = directory.filePath("ttyLocked");
    const int descriptor = ::open(device.toLocal8Bit().constData(), O_CREAT | O_WRONLY, 0);
    ASSERT_GE(descriptor, 0);
    ::close(descriptor);

    ScopedComPort com1(1, device);
    CommControl port;
    EXPECT_FALSE(port.open());
    const PortError error = port.lastError();
    EXPECT_EQ(error.kind, PortError::Kind::PermissionDenied);
    EXPECT_TRUE(error.message().startsWith(device + ": permission denied"))
        << text(error.message());
    EXPECT_TRUE(error.message().contains("join the group that owns the device"));
}

TEST(CommControl, ExclusiveOpenWithoutLockFileIsOccupied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "an exclusive open does not stop root";
    }
    InstrumentEnd line;
    const int exclusive = ::open(line.devicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(exclusive, 0);
    ASSERT_EQ(::ioctl(exclusive, TIOCEXCL), 0);

    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    EXPECT_FALSE(port.open());
    EXPECT_EQ(port.lastError().kind, PortError::Kind::Occupied) << text(port.lastError().message());
    ::close(exclusive);
}

// A lock file for the device, removed again at the end of the test.
class ScopedLockFile {
public:
    ScopedLockFile(const QString& device, const QByteArray& content, bool asDirectory = false)
        : path_(testing::lockFileQtUses(device)) {
        if (asDirectory) {
            QDir().mkdir(path_);
            return;
        }
        QFile file(path_);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(content);
        }
    }
    ~ScopedLockFile() {
        QDir().rmdir(path_);
        QFile::remove(path_);
    }
    ScopedLockFile(const ScopedLockFile&) = delete;
    ScopedLockFile& operator=(const ScopedLockFile&) = delete;

    const QString& path() const { return path_; }
    bool exists() const { return QFileInfo::exists(path_); }

private:
    QString path_;
};

TEST(CommControl, BytesArrivingBetweenExchangesAreDroppedAsTheyCome) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    ASSERT_TRUE(port.open()) << text(port.lastError().message());

    // A chatty bus: nothing is awaited, so nothing may pile up.
    qint64 dropped = 0;
    QObject::connect(&port, &CommControl::bytesDropped,
                     [&dropped](const QByteArray& bytes) { dropped += bytes.size(); });
    constexpr int kChunks = 200;
    const Bytes chunk(1000, 0x5A);
    for (int i = 0; i < kChunks; ++i) {
        line.send(chunk);
        waitFor([&] { return dropped >= qint64(i + 1) * 1000; }, 2000);
    }
    EXPECT_EQ(dropped, kChunks * 1000);
    EXPECT_EQ(port.InBufferCount(), 0);

    // An awaited reply is kept whole.
    ASSERT_TRUE(port.setOutput(QByteArray("\x01", 1)));
    line.send({0x01, 0x02, 0x03});
    ASSERT_TRUE(waitFor([&] { return port.InBufferCount() == 3; }));
    EXPECT_EQ(port.Input(), QByteArray("\x01\x02\x03", 3));
    EXPECT_EQ(dropped, kChunks * 1000);
}

TEST(CommControl, LiveHolderInAUucpLockFileMakesTheDeviceOccupied) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    // minicom, cu and lockdev write the holder's process id as ten right-aligned digits.
    QProcess holder;
    holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted());
    ScopedLockFile lock(line.devicePath(),
                        QByteArray::number(holder.processId()).rightJustified(10, ' ') + "\n");

    CommControl port;
    EXPECT_FALSE(port.open());
    EXPECT_EQ(port.lastError().kind, PortError::Kind::Occupied) << text(port.lastError().message());
    EXPECT_TRUE(port.lastError().message().contains(QString::number(holder.processId())));
    EXPECT_TRUE(lock.exists()) << "the holder's lock file was removed";
    holder.kill();
    holder.waitForFinished();
}

TEST(CommControl, TheSameDeviceUnderALinkIsLockedAsTheDevice) {
    InstrumentEnd line;
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString link = directory.filePath("com1");
    ASSERT_EQ(
        ::symlink(line.devicePath().toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);

    const QString names[][2] = {{link, line.devicePath()}, {line.devicePath(), link}};
    for (const auto& [first, second] : names) {
        SCOPED_TRACE(text(first));
        CommControl holder;
        ScopedComPort com1(1, first);
        ASSERT_TRUE(holder.open()) << text(holder.lastError().message());
        CommControl other;
        ScopedComPort com2(1, second);
        EXPECT_FALSE(other.open());
        EXPECT_EQ(other.lastError().kind, PortError::Kind::Occupied)
            << text(other.lastError().message());
        EXPECT_EQ(other.lastError().device, second);
    }
}

TEST(CommControl, ALockFileThatNamesNoProcessIsNamedAsTheObstacle) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    struct Case {
        const char* name;
        QByteArray content;
        bool asDirectory;
    };
    const Case cases[] = {
        {"empty", "", false},
        {"garbage", "not a lock\n", false},
        {"binary", QByteArray("\x00\x01\xFF\x7F", 4), false},
        {"negative process id", "-42\n", false},
        {"directory", "", true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ScopedLockFile lock(line.devicePath(), row.content, row.asDirectory);
        CommControl port;
        ASSERT_FALSE(port.open());
        const QString message = port.lastError().message();
        EXPECT_NE(port.lastError().kind, PortError::Kind::Occupied) << text(message);
        EXPECT_TRUE(message.contains(lock.path())) << text(message);
        EXPECT_TRUE(message.contains("cannot be read")) << text(message);
    }
}

} // namespace
} // namespace darq
