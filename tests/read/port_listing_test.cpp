// darq-read --list-ports, and COM1 as the window assigned it.

#include "read/port_listing.h"
#include "serial/port_assignment.h"
#include "sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <string>

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

        std::string expectedCsv = "device,by_id,description,manufacturer,usb_id,serial_number\n";
        if (!devices.isEmpty()) {
            expectedCsv += "/dev/ttyUSB0,/dev/serial/by-id/usb-Prolific_PL2303-if00-port0,"
                           "\"USB-Serial Controller, \"\"D\"\"\",Prolific,067b:2303,A1\n"
                           "/dev/ttyS0,,,,,\n";
        }
        EXPECT_EQ(formatPortListing(OutputFormat::Csv, devices, commPorts), expectedCsv);

        const std::string json = formatPortListing(OutputFormat::Json, devices, commPorts);
        const QJsonDocument parsed = QJsonDocument::fromJson(QByteArray::fromStdString(json));
        ASSERT_TRUE(parsed.isArray()) << json;
        const QJsonArray listed = parsed.array();
        ASSERT_EQ(listed.size(), devices.size()) << json;
        if (!devices.isEmpty()) {
            EXPECT_EQ(listed[0]["description"].toString(), awkwardAdapter().description);
            EXPECT_TRUE(listed[1]["by_id"].isNull());
        }
    }
}

// This machine's own devices, whatever they are: none is fine.
TEST(PortListing, DarqReadListsThisMachinesDevicesInEachFormat) {
    for (const char* format : {"text", "csv", "json"}) {
        SCOPED_TRACE(format);
        const ProgramRun run = runDarqRead({"--list-ports", "--format", format});
        EXPECT_EQ(run.exitCode, 0);
        if (std::string(format) == "json") {
            EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).isArray())
                << run.out;
        } else if (std::string(format) == "csv") {
            EXPECT_EQ(run.out.rfind("device,by_id,", 0), 0u) << run.out;
        } else {
            EXPECT_NE(run.out.find("COM1 = "), std::string::npos) << run.out;
        }
    }
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
