#include "read/port_listing.h"

#include "read/read_summary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <iostream>

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

// "FTDI, USB 0403:6001, serial A1B2C3", leaving out what the device does not tell.
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
    return text;
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

const char* const kFieldNames[] = {"device",       "by_id",  "description",
                                   "manufacturer", "usb_id", "serial_number"};

// In the order of kFieldNames; empty where the device does not tell.
QStringList fieldValues(const SerialDevice& device) {
    return {device.path,         device.byIdPath, device.description,
            device.manufacturer, device.usbId(),  device.serialNumber};
}

std::string csvRow(const QStringList& values) {
    std::string row;
    for (int index = 0; index < values.size(); ++index) {
        row += (index == 0 ? "" : ",") + csvField(values[index]);
    }
    return row + "\n";
}

std::string csvListing(const QList<SerialDevice>& devices) {
    QStringList header;
    for (const char* name : kFieldNames) {
        header << QLatin1String(name);
    }
    std::string csv = csvRow(header);
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

} // namespace

std::string formatPortListing(OutputFormat format, const QList<SerialDevice>& devices,
                              const QList<CommPortDevice>& commPorts) {
    switch (format) {
    case OutputFormat::Text:
        return textListing(devices, commPorts);
    case OutputFormat::Csv:
        return csvListing(devices);
    case OutputFormat::Json:
        return jsonListing(devices);
    }
    return {};
}

int listPorts(OutputFormat format) {
    const QList<CommPortDevice> commPorts = {commPortDevice(1), commPortDevice(2)};
    std::cout << formatPortListing(format, listSerialDevices(), commPorts) << std::flush;
    return std::cout ? kExitSuccess : kExitOutputLost;
}

} // namespace darq
