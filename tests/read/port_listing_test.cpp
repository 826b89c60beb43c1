// darq-read --list-ports, and COM1 as the window assigned it.

#include "read/port_listing.h"
#include "serial/port_assignment.h"
#include "sim_process.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace darq {
namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
};

ProgramRun runDarqRead(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DARQ_COM1"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(DARQ_READ_PATH), arguments);
    ProgramRun run;
    if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput().toStdString();
    return run;
}

// A description as some adapters report it: a comma and quotes must not break a csv row.
SerialDevice awkwardAdapter() {
    SerialDevice device;
    device.path = QStringLiteral("/dev/ttyUSB0");
    device.byIdPath = QStringLiteral("/dev/serial/by-id/usb-Prolific_PL2303-if00-port0");
    device.description = QStringLiteral("USB-Serial Controller, \"D\"");
    device.manufacturer = QStringLiteral("Prolific");
    device.vendorId = 0x067b;
    device.productId = 0x2303;
    device.serialNumber = QStringLiteral("A1");
    device.driver = QStringLiteral("pl2303");
    return device;
}

TEST(PortListing, EveryFormatReadsBackWithAndWithoutDevices) {
    SerialDevice builtin;
    builtin.path = QStringLiteral("/dev/ttyS0");
    const QList<CommPortDevice> commPorts = {{"/dev/ttyS0", CommPortSource::Builtin}};
    for (const QList<SerialDevice>& devices :
         {QList<SerialDevice>{}, QList<SerialDevice>{awkwardAdapter(), builtin}}) {
        SCOPED_TRACE(devices.size());
        const std::string text = formatPortListing(OutputFormat::Text, devices, commPorts);
        EXPECT_EQ(text.find("no serial devices found") != std::string::npos, devices.isEmpty());

        std::string expectedCsv =
            "device,by_id,description,manufacturer,usb_id,serial_number,driver\n";
        if (!devices.isEmpty()) {
            expectedCsv += "/dev/ttyUSB0,/dev/serial/by-id/usb-Prolific_PL2303-if00-port0,"
                           "\"USB-Serial Controller, \"\"D\"\"\",Prolific,067b:2303,A1,pl2303\n"
                           "/dev/ttyS0,,,,,,\n";
            EXPECT_NE(text.find("(Prolific, USB 067b:2303, serial A1, driver pl2303)"),
                      std::string::npos)
                << text;
        }
        EXPECT_EQ(formatPortListing(OutputFormat::Csv, devices, commPorts), expectedCsv);
        EXPECT_EQ(formatPortListing(OutputFormat::Csv, devices, commPorts, false),
                  expectedCsv.substr(expectedCsv.find('\n') + 1));

        const std::string json = formatPortListing(OutputFormat::Json, devices, commPorts);
        const QJsonDocument parsed = QJsonDocument::fromJson(QByteArray::fromStdString(json));
        ASSERT_TRUE(parsed.isArray()) << json;
        const QJsonArray listed = parsed.array();
        ASSERT_EQ(listed.size(), devices.size()) << json;
        if (!devices.isEmpty()) {
            EXPECT_EQ(listed[0]["description"].toString(), awkwardAdapter().description);
            EXPECT_EQ(listed[0]["driver"].toString(), QStringLiteral("pl2303"));
            EXPECT_TRUE(listed[1]["by_id"].isNull());
        }
    }
}

// This machine's own devices, whatever they are: none ends with status 1.
TEST(PortListing, DarqReadListsThisMachinesDevicesInEachFormat) {
    for (const char* format : {"text", "csv", "json"}) {
        SCOPED_TRACE(format);
        const ProgramRun run = runDarqRead({"--list-ports", "--format", format});
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode;
        if (std::string(format) == "json") {
            const QJsonDocument listed =
                QJsonDocument::fromJson(QByteArray::fromStdString(run.out));
            EXPECT_TRUE(listed.isArray()) << run.out;
            EXPECT_EQ(run.exitCode, listed.array().isEmpty() ? 1 : 0);
        } else if (std::string(format) == "csv") {
            EXPECT_EQ(run.out.rfind("device,by_id,", 0), 0u) << run.out;
        } else {
            EXPECT_NE(run.out.find("COM1 = "), std::string::npos) << run.out;
        }
    }
}

TEST(PortListing, SaysWhyNoAdapterIsFoundAndWhatModemManagerDoes) {
    using Access = MachineState::SerialAccess;
    SerialDevice builtin;
    builtin.path = QStringLiteral("/dev/ttyS0");
    const struct {
        const char* name;
        QList<SerialDevice> devices;
        MachineState machine;
        std::vector<std::string> said;
        std::vector<std::string> notSaid;
    } cases[] = {
        {"an adapter, nothing in the way",
         {awkwardAdapter()},
         {"ana", Access::NotInGroup, true, false},
         {},
         {"No USB serial adapter found", "ModemManager"}},
        {"only a built-in port, brltty running, not in dialout",
         {builtin},
         {"ana", Access::NotInGroup, true, false},
         {"No USB serial adapter found", "not plugged in", "brltty is running",
          "vanishes a second after plugging in", "user ana is not in the group dialout",
          "sudo usermod -aG dialout ana"},
         {"ModemManager"}},
        {"nothing, added to dialout without logging in again",
         {},
         {"ana", Access::AddedNotLoggedIn, false, false},
         {"brltty, a braille display driver: not here, it is not running",
          "was added to the group dialout but has not logged in again"},
         {}},
        {"ModemManager beside a listed adapter",
         {awkwardAdapter()},
         {"ana", Access::InGroup, false, true},
         {"ModemManager is running", "AT commands",
          "ATTRS{idVendor}==\"067b\", ATTRS{idProduct}==\"2303\", "
          "ENV{ID_MM_DEVICE_IGNORE}=\"1\""},
         {"No USB serial adapter found"}},
        {"ModemManager and no adapter",
         {},
         {"ana", Access::InGroup, false, true},
         {"user ana is in the group dialout", "ENV{ID_MM_DEVICE_IGNORE}=\"1\"", "VVVV"},
         {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const std::string hints = portHints(row.devices, row.machine);
        for (const std::string& part : row.said) {
            EXPECT_NE(hints.find(part), std::string::npos) << part << " in\n" << hints;
        }
        for (const std::string& part : row.notSaid) {
            EXPECT_EQ(hints.find(part), std::string::npos) << part << " in\n" << hints;
        }
    }
}

// A /proc and a /sys/class/tty of the test's own, so that brltty and ModemManager need not run.
TEST(PortListing, FindsProcessesAndDriversWhereItIsTold) {
    QTemporaryDir proc;
    QTemporaryDir ttyClass;
    ASSERT_TRUE(proc.isValid() && ttyClass.isValid());
    const auto process = [&proc](const char* pid, const QByteArray& comm) {
        QDir(proc.path()).mkpath(pid);
        QFile file(proc.filePath(QStringLiteral("%1/comm").arg(pid)));
        return file.open(QIODevice::WriteOnly) && file.write(comm) == comm.size();
    };
    ASSERT_TRUE(process("1", "systemd\n") && process("812", "ModemManager\n") &&
                process("self", "brltty\n"));
    MachineState machine = probeMachine(proc.path());
    EXPECT_TRUE(machine.modemManagerRunning);
    EXPECT_FALSE(machine.brlttyRunning) << "only numbered entries are processes";
    ASSERT_TRUE(process("933", "brltty\n"));
    EXPECT_TRUE(probeMachine(proc.path()).brlttyRunning);

    const QDir sys(ttyClass.path());
    const auto driver = [&sys](const QString& device, const QString& bus, const QString& name) {
        return sys.mkpath(device) && QFile::link(sys.filePath("bus/" + bus + "/drivers/" + name),
                                                 sys.filePath(device + "/driver"));
    };
    ASSERT_TRUE(sys.mkpath("class/ttyUSB0") && sys.mkpath("class/ttyS0") &&
                sys.mkpath("class/ttyS1/device"));
    ASSERT_TRUE(driver("devices/usb1/1-1:1.0/ttyUSB0", "usb-serial", "ch341"));
    ASSERT_TRUE(QFile::link(sys.filePath("devices/usb1/1-1:1.0/ttyUSB0"),
                            sys.filePath("class/ttyUSB0/device")));
    // A UART under the serial core's own port and controller, as since Linux 6.5.
    ASSERT_TRUE(driver("devices/pnp0/00:00", "pnp", "serial") &&
                driver("devices/pnp0/00:00/00:00:0", "serial-base", "ctrl") &&
                driver("devices/pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port"));
    ASSERT_TRUE(QFile::link(sys.filePath("devices/pnp0/00:00/00:00:0/00:00:0.0"),
                            sys.filePath("class/ttyS0/device")));
    const QString ttyClassDirectory = sys.filePath("class");
    EXPECT_EQ(ttyDriver("/dev/ttyUSB0", ttyClassDirectory), QStringLiteral("ch341"));
    EXPECT_EQ(ttyDriver("/dev/ttyS0", ttyClassDirectory), QStringLiteral("serial"));
    EXPECT_EQ(ttyDriver("/dev/ttyS1", ttyClassDirectory), QString());
}

TEST(PortListing, Com1IsTheDeviceAssignedInTheWindow) {
    testing::SimProcess sim;
    const QString device = QString::fromStdString(sim.devicePath());
    ASSERT_TRUE(assignDevice(1, device));
    const auto forget = qScopeGuard([] { assignDevice(1, QString()); });

    const ProgramRun reading = runDarqRead({"--port", "COM1", "--timeout", "1000"});
    EXPECT_EQ(reading.exitCode, 0);
    EXPECT_NE(reading.out.find("  flow "), std::string::npos) << reading.out;

    const ProgramRun listing = runDarqRead({"--list-ports"});
    EXPECT_NE(listing.out.find("COM1 = " + sim.devicePath() + "  (assigned in the window)"),
              std::string::npos)
        << listing.out;
}

} // namespace
} // namespace darq
