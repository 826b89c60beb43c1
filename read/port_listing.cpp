#include "read/port_listing.h"

#include "read/read_summary.h"
#include "read/reading_output.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <grp.h>
#include <iostream>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace darq {

namespace {

std::string sourceText(int commPort, CommPortSource source) {
    switch (source) {
    case CommPortSource::Environment:
        return "from DARQ_COM" + std::to_string(commPort);
    case CommPortSource::Assignment:
        return "assigned in the window";
    case CommPortSource::Adapter:
        return commPort == 1 ? "the first plugged USB adapter" : "the second plugged USB adapter";
    case CommPortSource::Builtin:
        return "built-in serial port";
    case CommPortSource::Windows:
        return "Windows port";
    }
    return {};
}

// "FTDI, USB 0403:6001, serial A1B2C3, driver ftdi_sio", leaving out what the device does not
// tell.
QString detailsText(const SerialDevice& device) {
    QStringList details;
    if (!device.manufacturer.isEmpty()) {
        details << device.manufacturer;
    }
    if (!device.usbId().isEmpty()) {
        details << QStringLiteral("USB ") + device.usbId();
    }
    if (!device.serialNumber.isEmpty()) {
        details << QStringLiteral("serial ") + device.serialNumber;
    }
    if (!device.driver.isEmpty()) {
        details << QStringLiteral("driver ") + device.driver;
    }
    return details.join(QStringLiteral(", "));
}

std::string textListing(const QList<SerialDevice>& devices,
                        const QList<CommPortDevice>& commPorts) {
    std::string text;
    for (const SerialDevice& device : devices) {
        QString line = device.path;
        if (!device.description.isEmpty()) {
            line += QStringLiteral("  ") + device.description;
        }
        const QString details = detailsText(device);
        if (!details.isEmpty()) {
            line += QStringLiteral("  (") + details + QLatin1Char(')');
        }
        text += line.toStdString() + "\n";
        if (!device.byIdPath.isEmpty()) {
            text += "    " + device.byIdPath.toStdString() + "\n";
        }
    }
    if (devices.isEmpty()) {
        text += "no serial devices found\n";
    }
    for (int index = 0; index < commPorts.size(); ++index) {
        const int commPort = index + 1;
        text += "COM" + std::to_string(commPort) + " = " + commPorts[index].device.toStdString() +
                "  (" + sourceText(commPort, commPorts[index].source) + ")\n";
    }
    return text + "tcp://HOST:PORT reads an instrument behind a serial device server\n";
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string csvField(const QString& value) {
    std::string field = value.toStdString();
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

// New fields go at the end, so that scripts that read the earlier ones keep working.
const char* const kFieldNames[] = {"device", "by_id",         "description", "manufacturer",
                                   "usb_id", "serial_number", "driver"};

// In the order of kFieldNames; empty where the device does not tell.
QStringList fieldValues(const SerialDevice& device) {
    return {device.path,    device.byIdPath,     device.description, device.manufacturer,
            device.usbId(), device.serialNumber, device.driver};
}

std::string csvRow(const QStringList& values) {
    std::string row;
    for (int index = 0; index < values.size(); ++index) {
        row += (index == 0 ? "" : ",") + csvField(values[index]);
    }
    return row + "\n";
}

std::string csvListing(const QList<SerialDevice>& devices, bool header) {
    QStringList names;
    for (const char* name : kFieldNames) {
        names << QLatin1String(name);
    }
    std::string csv = header ? csvRow(names) : std::string();
    for (const SerialDevice& device : devices) {
        csv += csvRow(fieldValues(device));
    }
    return csv;
}

std::string jsonListing(const QList<SerialDevice>& devices) {
    if (devices.isEmpty()) {
        return "[]\n";
    }
    std::string json = "[\n";
    for (const SerialDevice& device : devices) {
        QJsonObject object;
        const QStringList values = fieldValues(device);
        for (int index = 0; index < values.size(); ++index) {
            object.insert(QLatin1String(kFieldNames[index]),
                          values[index].isEmpty() ? QJsonValue() : QJsonValue(values[index]));
        }
        if (json.size() > 2) {
            json += ",\n";
        }
        json += QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    }
    return json + "\n]\n";
}

bool processRunning(const QString& procRoot, const QByteArray& name) {
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return std::any_of(entries.begin(), entries.end(), [&](const QString& entry) {
        bool isProcess = false;
        entry.toLongLong(&isProcess);
        QFile comm(procRoot + QLatin1Char('/') + entry + QStringLiteral("/comm"));
        return isProcess && comm.open(QIODevice::ReadOnly) && comm.readLine().trimmed() == name;
    });
}

MachineState::SerialAccess serialAccess(const passwd* user) {
    using Access = MachineState::SerialAccess;
    if (::geteuid() == 0) {
        return Access::Root;
    }
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) {
        return Access::NoGroup;
    }
    const gid_t wanted = dialout->gr_gid;
    // Asked once for the count, then for the groups; getgrouplist below likewise.
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? std::size_t(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) == count &&
        std::find(groups.begin(), groups.end(), wanted) != groups.end()) {
        return Access::InGroup;
    }
    if (::getegid() == wanted) {
        return Access::InGroup;
    }
    // The group database may already hold the user where this login's groups do not yet.
    if (user != nullptr) {
        int listed = 0;
        ::getgrouplist(user->pw_name, user->pw_gid, nullptr, &listed);
        std::vector<gid_t> known(std::size_t(std::max(listed, 1)));
        if (::getgrouplist(user->pw_name, user->pw_gid, known.data(), &listed) >= 0 &&
            std::find(known.begin(), known.begin() + listed, wanted) != known.begin() + listed) {
            return Access::AddedNotLoggedIn;
        }
    }
    return Access::NotInGroup;
}

std::string accessReason(const MachineState& machine) {
    using Access = MachineState::SerialAccess;
    const std::string user = machine.user.toStdString();
    switch (machine.access) {
    case Access::Root:
        return "permission: running as root, which may use every device";
    case Access::InGroup:
        return "permission: user " + user +
               " is in the group dialout, which may use serial devices";
    case Access::AddedNotLoggedIn:
        return "permission: user " + user +
               " was added to the group dialout but has not logged in again since: log out and "
               "back in";
    case Access::NotInGroup:
        return "permission: user " + user +
               " is not in the group dialout, which may use serial devices: sudo usermod -aG "
               "dialout " +
               user + ", then log out and back in";
    case Access::NoGroup:
        return "permission: this machine has no group dialout: the group that owns the device "
               "must include user " +
               user;
    }
    return {};
}

// The rule names the listed adapters' USB ids; without one, where to find them.
std::string modemManagerHint(const QList<SerialDevice>& devices) {
    QStringList rules;
    for (const SerialDevice& device : devices) {
        if (device.vendorId && device.productId) {
            const QString rule =
                QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", "
                               "ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
                    .arg(*device.vendorId, 4, 16, QLatin1Char('0'))
                    .arg(*device.productId, 4, 16, QLatin1Char('0'));
            if (!rules.contains(rule)) {
                rules << rule;
            }
        }
    }
    if (rules.isEmpty()) {
        rules << QStringLiteral("ATTRS{idVendor}==\"VVVV\", ATTRS{idProduct}==\"PPPP\", "
                                "ENV{ID_MM_DEVICE_IGNORE}=\"1\"   (the adapter's USB id, as "
                                "listed here once it is plugged in)");
    }
    std::string hint = "ModemManager is running: it may probe a newly plugged adapter with AT "
                       "commands for some seconds, which the instrument takes for noise on its "
                       "line. To make it leave an adapter alone, put the line\n";
    for (const QString& rule : rules) {
        hint += "    " + rule.toStdString() + "\n";
    }
    return hint + "  in /etc/udev/rules.d/99-darq-serial.rules, run sudo udevadm control "
                  "--reload-rules and plug the adapter in again.\n";
}

} // namespace

MachineState probeMachine(const QString& procRoot) {
    MachineState machine;
    const passwd* user = ::getpwuid(::geteuid());
    machine.user =
        user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
    machine.access = serialAccess(user);
    machine.brlttyRunning = processRunning(procRoot, "brltty");
    machine.modemManagerRunning = processRunning(procRoot, "ModemManager");
    return machine;
}

std::string portHints(const QList<SerialDevice>& devices, const MachineState& machine) {
    std::string hints;
    const bool adapterListed = std::any_of(devices.begin(), devices.end(), [](const auto& device) {
        return device.isPluggedAdapter();
    });
    if (!adapterListed) {
        hints = "No USB serial adapter found. The usual reasons:\n"
                "  - not plugged in, or its socket or cable is faulty: plug it in, list again, "
                "and sudo dmesg | tail shows whether the kernel saw it\n";
        hints += machine.brlttyRunning
                     ? "  - brltty is running: it claims some adapter chips (the CH340 among them) "
                       "for braille displays, and the adapter vanishes a second after plugging "
                       "in; without a braille display, sudo apt remove brltty\n"
                     : "  - claimed by brltty, a braille display driver: not here, it is not "
                       "running\n";
        hints += "  - " + accessReason(machine) + "\n";
    }
    if (machine.modemManagerRunning) {
        hints += modemManagerHint(devices);
    }
    return hints;
}

std::string formatPortListing(OutputFormat format, const QList<SerialDevice>& devices,
                              const QList<CommPortDevice>& commPorts, bool header) {
    switch (format) {
    case OutputFormat::Text:
        return textListing(devices, commPorts);
    case OutputFormat::Csv:
        return csvListing(devices, header);
    case OutputFormat::Json:
        return jsonListing(devices);
    }
    return {};
}

int listPorts(const ReadOptions& options) {
    const QList<CommPortDevice> commPorts = {commPortDevice(1), commPortDevice(2)};
    const QList<SerialDevice> devices = listSerialDevices();
    const std::string hints = portHints(devices, probeMachine());
    std::cout << formatPortListing(options.format, devices, commPorts, writesCsvHeader(options));
    (options.format == OutputFormat::Text ? std::cout : std::cerr) << hints;
    std::cout << std::flush;
    if (!std::cout) {
        return kExitOutputLost;
    }
    return devices.isEmpty() ? kExitWithoutData : kExitSuccess;
}

} // namespace darq
