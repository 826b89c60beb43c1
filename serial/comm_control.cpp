#include "serial/comm_control.h"

#include "serial/port_names.h"
#include "serial/port_opening.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

namespace darq {

CommControl::CommControl(QObject* parent) : QObject(parent) {
    qRegisterMetaType<darq::PortError>();
    connect(&serial_, &QSerialPort::errorOccurred, this, &CommControl::onSerialError);
    connect(&serial_, &QSerialPort::readyRead, this, &CommControl::onReadyRead);
}

CommControl::~CommControl() {
    // An exchange still waiting on the port must learn that it is gone.
    closePort();
}

int CommControl::CommPort() const {
    return commPort_;
}

bool CommControl::setCommPort(int commPort) {
    lastError_ = {};
    if (serial_.isOpen()) {
        lastError_ = {PortError::Kind::Other, deviceName(),
                      PortWords::tr("the port number can only change while the port is closed")};
        return false;
    }
    if (commPort < 1) {
        lastError_ = {PortError::Kind::Other, QString(),
                      PortWords::tr("there is no port number %1").arg(commPort)};
        return false;
    }
    commPort_ = commPort;
    return true;
}

QString CommControl::Settings() const {
    return QString::fromStdString(formatLineSettings(settings_));
}

bool CommControl::setSettings(const QString& settings) {
    lastError_ = {};
    const ParsedLineSettings parsed = parseLineSettings(settings.toStdString());
    if (!parsed.settings) {
        lastError_ = {
            PortError::Kind::InvalidSettings, deviceName(),
            QStringLiteral("\"%1\": %2").arg(settings, QString::fromStdString(parsed.error))};
        return false;
    }
    if (serial_.isOpen()) {
        const PortError refused = applyLineSettings(serial_, *parsed.settings);
        if (refused.isError()) {
            // Some of the new settings may have gone through before the refusal.
            applyLineSettings(serial_, settings_);
            lastError_ = refused;
            lastError_.device = openDevice_;
            return false;
        }
    }
    settings_ = *parsed.settings;
    return true;
}

bool CommControl::PortOpen() const {
    return serial_.isOpen();
}

bool CommControl::setPortOpen(bool open) {
    lastError_ = {};
    if (open == serial_.isOpen()) {
        return true;
    }
    if (!open) {
        closePort();
        return true;
    }
    const QString device = closedDeviceName();
    opening_ = true;
    const PortError failure = openSerialDevice(serial_, device, settings_, rs485_);
    opening_ = false;
    if (failure.isError()) {
        lastError_ = failure;
        return false;
    }
    openDevice_ = device;
    emit portOpenChanged(true);
    return true;
}

int CommControl::InBufferCount() const {
    if (!serial_.isOpen()) {
        return 0;
    }
    return static_cast<int>(serial_.bytesAvailable() + bytesWaitingInDriver());
}

void CommControl::setInBufferCount(int count) {
    // As with the communications control, only 0 means something: discard.
    if (count != 0 || !serial_.isOpen()) {
        return;
    }
    serial_.clear(QSerialPort::Input);
}

bool CommControl::setOutput(const QByteArray& bytes) {
    lastError_ = {};
    if (!serial_.isOpen()) {
        lastError_ = {PortError::Kind::NotOpen, deviceName(), PortWords::tr("nothing was sent")};
        return false;
    }
    // write() only queues the bytes in QSerialPort; the settle time must start with the request
    // handed to the device.
    const bool sent = serial_.write(bytes) == bytes.size() && serial_.flush();
    if (!serial_.isOpen()) {
        // The port died while sending and is already reported as lost.
        return false;
    }
    if (!sent) {
        lastError_ = {PortError::Kind::Other, openDevice_,
                      PortWords::tr("cannot send: ") + serial_.errorString()};
        // A request that goes out later, when the device takes bytes again, would be answered
        // into some other exchange.
        serial_.clear(QSerialPort::Output);
        serial_.clearError();
        return false;
    }
    awaitingReply_ = true;
    return true;
}

QByteArray CommControl::Input() {
    const QByteArray input = takeArrived();
    awaitingReply_ = false;
    return input;
}

QByteArray CommControl::takeArrived() {
    if (!serial_.isOpen()) {
        return {};
    }
    readWaitingBytes();
    return serial_.isOpen() ? serial_.readAll() : QByteArray();
}

QString CommControl::deviceName() const {
    return serial_.isOpen() ? openDevice_ : closedDeviceName();
}

void CommControl::setDevice(const QString& device) {
    fixedDevice_ = device;
}

void CommControl::setRs485(const std::optional<Rs485Mode>& mode) {
    rs485_ = mode;
}

QString CommControl::closedDeviceName() const {
    return fixedDevice_.isEmpty() ? deviceForCommPort(commPort_) : fixedDevice_;
}

int CommControl::baudRate() const {
    return settings_.baudRate;
}

PortError CommControl::lastError() const {
    return lastError_;
}

bool CommControl::open() {
    return setPortOpen(true);
}

void CommControl::close() {
    setPortOpen(false);
}

bool CommControl::toggle() {
    if (serial_.isOpen()) {
        close();
        return false;
    }
    return open();
}

bool CommControl::applyRate(int listPosition) {
    return setSettings(QString::fromStdString(settingsForRatePosition(listPosition)));
}

bool CommControl::switchPort(int choiceIndex) {
    close();
    if (!setCommPort(choiceIndex + 1)) {
        return false;
    }
    return open();
}

bool CommControl::send(const Bytes& frame) {
    return setOutput(QByteArray(reinterpret_cast<const char*>(frame.data()),
                                static_cast<qsizetype>(frame.size())));
}

void CommControl::onReadyRead() {
    if (awaitingReply_) {
        emit bytesArrived();
        return;
    }
    // Nobody takes bytes that arrive between exchanges (a busy bus, a reply that came too late),
    // and the next exchange would discard them anyway; left in QSerialPort they pile up without
    // limit on a chatty line.
    const QByteArray dropped = serial_.readAll();
    if (!dropped.isEmpty()) {
        emit bytesDropped(dropped);
    }
}

void CommControl::onSerialError(QSerialPort::SerialPortError error) {
    // Qt keeps raising read errors on a dead device, thousands a second, for as long as it stays
    // open: the first one closes it. Other errors (a missing modem line, a timeout while
    // waiting) leave the line usable.
    if (opening_ || !serial_.isOpen()) {
        return;
    }
    const std::optional<PortError> lost = lostPortError(serial_, error, openDevice_);
    if (!lost) {
        return;
    }
    // Set first: whoever hears of the closing asks why.
    lastError_ = *lost;
    closePort();
    emit portLost(*lost);
}

void CommControl::closePort() {
    if (!serial_.isOpen()) {
        return;
    }
    serial_.close();
    awaitingReply_ = false;
    emit portOpenChanged(false);
}

qint64 CommControl::bytesWaitingInDriver() const {
#ifdef Q_OS_UNIX
    int waiting = 0;
    if (::ioctl(serial_.handle(), FIONREAD, &waiting) == 0) {
        return waiting;
    }
#endif
    return 0;
}

void CommControl::readWaitingBytes() {
    // QSerialPort reads from the device only when the event loop hands it the chance; bytes that
    // came in since must be part of Input too. A zero wait takes them without blocking.
    if (bytesWaitingInDriver() > 0) {
        serial_.waitForReadyRead(0);
    }
}

} // namespace darq
