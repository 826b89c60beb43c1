#include "serial/port_names.h"

#include <gtest/gtest.h>

namespace darq {
namespace {

SerialDevice device(const char* path, const char* byId = "") {
    SerialDevice found;
    found.path = QLatin1String(path);
    found.byIdPath = QLatin1String(byId);
    return found;
}

TEST(CommPortDevice, FirstOfEnvironmentAssignmentAdapterAndBuiltinPortApplies) {
    const QList<SerialDevice> builtinOnly = {device("/dev/ttyS0"), device("/dev/ttyS1")};
    // As the system lists them: not in by-id order, the built-in ports in between.
    const QList<SerialDevice> twoAdapters = {
        device("/dev/ttyS0"),
        device("/dev/ttyUSB0", "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0"),
        device("/dev/ttyS1"),
        device("/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino_Uno_8553-if00"),
    };
    const QList<SerialDevice> oneAdapter = {
        device("/dev/ttyS0"),
        device("/dev/ttyUSB3", "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0")};
    // Without udev there are no by-id links; the device number decides, as a number.
    const QList<SerialDevice> adaptersWithoutLinks = {device("/dev/ttyUSB10"),
                                                      device("/dev/ttyUSB2")};
    const QList<SerialDevice> linkedAfterUnlinked = {
        device("/dev/ttyUSB0"),
        device("/dev/ttyUSB1", "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0")};
    const QString ftdi = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0");

    const struct {
        const char* name;
        int commPort;
        QString environment;
        QString assigned;
        QList<SerialDevice> devices;
        QString device;
        CommPortSource source;
    } cases[] = {
        {"environment over everything", 1, "/tmp/darq-com1", ftdi, oneAdapter, "/tmp/darq-com1",
         CommPortSource::Environment},
        {"assignment over the adapters", 1, "", "/dev/ttyUSB7", twoAdapters, "/dev/ttyUSB7",
         CommPortSource::Assignment},
        {"an absent assigned device stays", 2, "", ftdi, builtinOnly, ftdi,
         CommPortSource::Assignment},
        {"first adapter in by-id order", 1, "", "", twoAdapters,
         "/dev/serial/by-id/usb-Arduino_Uno_8553-if00", CommPortSource::Adapter},
        {"second adapter in by-id order", 2, "", "", twoAdapters,
         "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0", CommPortSource::Adapter},
        {"one adapter is COM1", 1, "", "", oneAdapter, ftdi, CommPortSource::Adapter},
        {"no second adapter: built-in COM2", 2, "", "", oneAdapter, "/dev/ttyS1",
         CommPortSource::Builtin},
        {"unlinked adapters by number", 1, "", "", adaptersWithoutLinks, "/dev/ttyUSB2",
         CommPortSource::Adapter},
        {"linked adapters before unlinked", 1, "", "", linkedAfterUnlinked, ftdi,
         CommPortSource::Adapter},
        {"built-in ports are no adapters", 1, "", "", builtinOnly, "/dev/ttyS0",
         CommPortSource::Builtin},
        {"nothing found", 2, "", "", {}, "/dev/ttyS1", CommPortSource::Builtin},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        const CommPortDevice chosen =
            chooseCommPortDevice(example.commPort, example.environment, example.assigned,
                                 [&example] { return example.devices; });
        EXPECT_EQ(chosen.device, example.device);
        EXPECT_EQ(chosen.source, example.source);
    }
}

} // namespace
} // namespace darq
