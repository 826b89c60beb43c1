// Bad input at every edge of darq-read and the serial control: each gives a clear one-line
// message and the right exit status, never a crash or a hang. Rows the darq-read tests already
// hold (address 129, rate 19200, count "three", interval "2s", an unknown option, a missing
// device given by path) are not repeated here.

#include "instrument_end.h"
#include "serial/comm_control.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace darq {
namespace {

using testing::InstrumentEnd;
using testing::ScopedComPort;

// Far longer than any refusal takes; reaching it means darq-read hangs.
constexpr int kRefusalDeadlineMs = 10000;
constexpr int kExitUsage = 64;
constexpr int kExitPortUnusable = 2;
// What the child reports when it could not become the unprivileged user.
constexpr int kCannotDropPrivileges = 126;

std::string text(const QString& message) {
    return message.toStdString();
}

struct Account {
    uid_t uid;
    gid_t gid;
};

// An ordinary user without any say over devices, for running darq-read as one when the tests
// run as root (whom no permission stops).
std::optional<Account> unprivilegedAccount() {
    if (::geteuid() != 0) {
        return std::nullopt;
    }
    if (const passwd* nobody = ::getpwnam("nobody")) {
        return Account{nobody->pw_uid, nobody->pw_gid};
    }
    return Account{65534, 65534};
}

// Everything a wrongly set DARQ_COM1 may name besides a serial device, in a directory that an
// unprivileged user may look into.
class EdgeDevices {
public:
    EdgeDevices() {
        setMode(directory_.path(), 0755);
        createFile(regularFile(), "2024-06-11 flow 1234.56\n", 0666);
        createFile(lockedDevice(), "", 0);
        // Not writable for anyone but root: a check of our access rights alone would take it
        // for a device we may not use.
        ::mkdir(QFile::encodeName(subdirectory()).constData(), 0700);
        setMode(subdirectory(), 0555);
        ::mkfifo(QFile::encodeName(fifo()).constData(), 0600);
        setMode(fifo(), 0666);
    }

    bool isValid() const {
        return directory_.isValid() && QFile::exists(regularFile()) &&
               QFile::exists(lockedDevice()) && QFile::exists(subdirectory()) &&
               QFile::exists(fifo());
    }
    QString missing() const { return directory_.filePath("ttyUSB-unplugged"); }
    QString subdirectory() const { return directory_.filePath("serial"); }
    QString regularFile() const { return directory_.filePath("readings.log"); }
    QString fifo() const { return directory_.filePath("line.fifo"); }
    QString lockedDevice() const { return directory_.filePath("ttyLocked"); }

private:
    // Modes set after creation, so that the umask does not trim them.
    static void setMode(const QString& path, mode_t mode) {
        ::chmod(QFile::encodeName(path).constData(), mode);
    }
    static void createFile(const QString& path, const QByteArray& content, mode_t mode) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(content);
        }
        file.close();
        setMode(path, mode);
    }

    QTemporaryDir directory_;
};

struct ChildRun {
    bool started = false;
    bool finished = false; // within the deadline
    bool crashed = false;  // ended by a signal
    int exitCode = -1;
    std::string out;
    std::string err;
};

ChildRun runDarqRead(const QStringList& arguments, const QString& com1,
                     const std::optional<Account>& as = std::nullopt) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DARQ_COM1", com1);
    // The operating system's reasons in plain English, whatever the machine's language.
    environment.insert("LC_ALL", "C");
    process.setProcessEnvironment(environment);
    if (as) {
        const Account account = *as;
        process.setChildProcessModifier([account] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 ||
                ::setuid(account.uid) != 0) {
                ::_exit(kCannotDropPrivileges);
            }
        });
    }
    process.start(QStringLiteral(DARQ_READ_PATH), arguments);
    ChildRun run;
    run.started = process.waitForStarted(5000);
    if (!run.started) {
        return run;
    }
    run.finished = process.waitForFinished(kRefusalDeadlineMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

struct Row {
    const char* name;
    QStringList arguments;
    QString com1;
    int exitStatus;
    std::vector<std::string> inMessage;    // what the first line of stderr must say
    std::vector<std::string> notInMessage; // and what it must not
};

std::vector<Row> deviceRows(const EdgeDevices& devices) {
    const QStringList com1{"--port", "COM1"};
    const std::vector<std::string> misread{"permission denied", "occupied"};
    return {
        {"missing device", com1, devices.missing(), kExitPortUnusable, {": not found"}, {}},
        {"directory",
         com1,
         devices.subdirectory(),
         kExitPortUnusable,
         {": not a serial device but a directory"},
         misread},
        {"regular file",
         com1,
         devices.regularFile(),
         kExitPortUnusable,
         {": not a serial device but a regular file"},
         misread},
        {"/dev/null", com1, "/dev/null", kExitPortUnusable, {": not a serial device"}, misread},
        {"system console",
         com1,
         "/dev/console",
         kExitPortUnusable,
         {": the system console or a virtual terminal, not a serial line"},
         misread},
        {"pseudo-terminal multiplexer",
         com1,
         "/dev/ptmx",
         kExitPortUnusable,
         {": the pseudo-terminal multiplexer, not a serial line"},
         misread},
        {"named pipe",
         com1,
         devices.fifo(),
         kExitPortUnusable,
         {": not a serial device but a pipe"},
         misread},
    };
}

Row permissionRow(const EdgeDevices& devices) {
    return {"device without permission",
            {"--port", "COM1"},
            devices.lockedDevice(),
            kExitPortUnusable,
            {": permission denied", "join the group that owns the device"},
            {}};
}

void expectRefused(const Row& row, const ChildRun& run) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.finished) << "darq-read hangs";
    ASSERT_FALSE(run.crashed) << "darq-read crashed";
    EXPECT_EQ(run.exitCode, row.exitStatus) << run.err;
    EXPECT_EQ(run.out, "");

    const std::string firstLine = run.err.substr(0, run.err.find('\n'));
    EXPECT_EQ(firstLine.rfind("darq-read: ", 0), 0u) << run.err;
    for (const std::string& part : row.inMessage) {
        EXPECT_NE(firstLine.find(part), std::string::npos)
            << "missing \"" << part << "\" in " << firstLine;
    }
    for (const std::string& part : row.notInMessage) {
        EXPECT_EQ(firstLine.find(part), std::string::npos) << firstLine;
    }
    if (row.exitStatus == kExitUsage) {
        // The reason, then the five lines of usage and nothing more.
        EXPECT_EQ(run.err.find("Usage: darq-read -p DEVICE"), firstLine.size() + 1) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 6) << run.err;
    } else {
        // The device the operator set up, not "COM1", and nothing after the one line.
        EXPECT_EQ(firstLine.rfind("darq-read: " + text(row.com1) + ": ", 0), 0u) << firstLine;
        EXPECT_EQ(run.err, firstLine + "\n");
    }
}

TEST(BadInput, DarqReadRefusesEachWithOneClearLineAndTheRightStatus) {
    EdgeDevices devices;
    ASSERT_TRUE(devices.isValid());
    // Options are refused before the port is touched: the line must stay silent.
    InstrumentEnd line;
    const QString port = line.devicePath();
    const auto refusedOption = [&](const char* name, const QString& option, const QString& value,
                                   const std::string& topic) {
        Row row{name, {"--port", "COM1", option, value}, port, kExitUsage, {}, {}};
        row.inMessage = {topic, "\"" + value.toStdString() + "\""};
        return row;
    };
    std::vector<Row> rows = {
        refusedOption("address below 0", "--address", "-1", "address"),
        refusedOption("rate not listed", "--baud", "1234", "rate"),
        refusedOption("count beyond any number", "--count", "99999999999", "count"),
        refusedOption("interval in exponent notation", "--interval", "1e3", "interval"),
        refusedOption("negative timeout", "--timeout", "-5", "timeout"),
        {"RS-485 delay without RS-485",
         {"--port", "COM1", "--rs485-delay-after", "5"},
         port,
         kExitUsage,
         {"go with --rs485"},
         {}},
        {"RS-485 delay beyond the kernel's",
         {"--port", "COM1", "--rs485", "--rs485-delay-before", "250"},
         port,
         kExitUsage,
         {"delay before sending", "\"250\""},
         {}},
        // A pseudo-terminal, like a USB adapter, has no RS-485 mode of the kernel's.
        {"RS-485 on a pseudo-terminal",
         {"--port", "COM1", "--rs485"},
         port,
         kExitPortUnusable,
         {": no RS-485 mode", "need no --rs485"},
         {}},
    };
    const std::vector<Row> devicesRows = deviceRows(devices);
    rows.insert(rows.end(), devicesRows.begin(), devicesRows.end());
    if (::geteuid() != 0) {
        rows.push_back(permissionRow(devices));
    }
    for (const Row& row : rows) {
        expectRefused(row, runDarqRead(row.arguments, row.com1));
    }
    line.readNow();
    EXPECT_TRUE(line.received().empty()) << testing::hex(line.received()).toStdString();
}

// Root may open anything, so a test run as root learns nothing about a device we may not use,
// nor whether a directory is mistaken for one. darq-read runs as an ordinary user for these.
TEST(BadInput, DarqReadRefusesTheSameDevicesForAnOrdinaryUser) {
    const std::optional<Account> ordinaryUser = unprivilegedAccount();
    if (!ordinaryUser) {
        GTEST_SKIP() << "the tests run as an ordinary user: the test above covers this";
    }
    const ChildRun probe = runDarqRead({"--help"}, QString(), ordinaryUser);
    if (!probe.finished || probe.exitCode != 0) {
        GTEST_SKIP() << "darq-read cannot run as user " << ordinaryUser->uid
                     << " from this build directory";
    }
    EdgeDevices devices;
    ASSERT_TRUE(devices.isValid());
    std::vector<Row> rows = deviceRows(devices);
    rows.push_back(permissionRow(devices));
    for (const Row& row : rows) {
        expectRefused(row, runDarqRead(row.arguments, row.com1, ordinaryUser));
    }
}

// The window's control meets the same devices; a missing device and one without permission are
// covered by the serial tests.
TEST(BadInput, CommControlNamesANonSerialDeviceWithoutCallingItOccupiedOrForbidden) {
    EdgeDevices devices;
    ASSERT_TRUE(devices.isValid());
    const QString notSerial[] = {devices.subdirectory(), devices.regularFile(),
                                 QStringLiteral("/dev/null"), devices.fifo()};
    for (const QString& device : notSerial) {
        SCOPED_TRACE(text(device));
        ScopedComPort com1(1, device);
        CommControl port;
        // Twice: a failed open must leave no lock of ours behind to read as "occupied".
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(port.setPortOpen(true));
            EXPECT_FALSE(port.PortOpen());
            const PortError error = port.lastError();
            EXPECT_EQ(error.kind, PortError::Kind::Other) << text(error.message());
            EXPECT_EQ(error.device, device);
            EXPECT_TRUE(error.message().startsWith(device + ": ")) << text(error.message());
            EXPECT_FALSE(error.message().contains('\n')) << text(error.message());
            EXPECT_TRUE(error.message().contains(QStringLiteral("not a serial device")))
                << text(error.message());
        }
    }
}

} // namespace
} // namespace darq
