#pragma once

#include <QCoreApplication>
#include <QMetaType>
#include <QString>

namespace darq {

// Why a serial port could not be used, naming the device. Only Occupied is the condition the
// window answers with its port-occupied warning.
struct PortError {
    enum class Kind {
        None,
        NotFound,         // no such device
        Occupied,         // another program holds the device
        PermissionDenied, // we may not read and write the device
        Lost,             // the port died while open (adapter pulled, far end gone)
        NotOpen,          // an operation that needs the open port was asked of a closed one
        InvalidSettings,  // a malformed settings text was refused
        Other,
    };

    Kind kind = Kind::None;
    QString device; // the device path, for example /dev/ttyUSB0
    QString reason; // plain words, for example the operating system's error text

    bool isError() const { return kind != Kind::None; }
    // One line for the operator: the device, what went wrong and, for permission denied, the hint
    // to join the group that owns the device.
    QString message() const;
};

// The words of the port's messages, in the language of the program's translation: the window shows
// them to the operator in theirs, darq-read in English.
struct PortWords {
    Q_DECLARE_TR_FUNCTIONS(PortWords)
};

} // namespace darq

Q_DECLARE_METATYPE(darq::PortError)
