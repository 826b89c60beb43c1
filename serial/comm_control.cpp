#include "serial/comm_control.h"

#include "serial/port_names.h"
#include "serial/port_opening.h"

#include <algorithm>
#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

namespace darq {

namespace {

// A device server that has not taken the connection by then is not going to.
constexpr int kConnectTimeoutMs = 3000;
// Device servers gather the line's bytes for a moment before sending them as one packet; the
// network's round trip comes on top, twice what the connection took to open, for its jitter.
constexpr int kPacketisingAllowanceMs = 50;
constexpr int kLongestNetworkAllowanceMs = 1000;

} // namespace

CommControl::CommControl(QObject* parent) : QObject(parent) {
    qRegisterMetaType<darq::PortError>();
    connect(&serial_, &QSerialPort::errorOccurred, this, &CommControl::onSerialError);
    connect(&serial_, &QSerialPort::readyRead, this, &CommControl::onReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &CommControl::onSocketError);
    connect(&socket_, &QTcpSocket::readyRead, this, &CommControl::onReadyRead);
    connect(&socket_, &QTcpSocket::connected, this, &CommControl::onConnected);
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        failConnecting(PortWords::tr("no answer within %1 s").arg(kConnectTimeoutMs / 1000));
    });
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
    if (PortOpen() || isOpening()) {
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
    if (link_ == &serial_) {
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
    return link_ != nullptr;
}

bool CommControl::isOpening() const {
    return connectTimer_.isActive();
}

int CommControl::networkAllowanceMs() const {
    return link_ == &socket_ ? networkAllowanceMs_ : 0;
}

bool CommControl::setPortOpen(bool open) {
    lastError_ = {};
    if (open == PortOpen()) {
        return true;
    }
    if (!open) {
        closePort();
        return true;
    }
    const QString device = closedDeviceName();
    if (isNetworkDevice(device)) {
        startConnecting(device);
        return false;
    }
    opening_ = true;
    const PortError failure = openSerialDevice(serial_, device, settings_, rs485_);
    opening_ = false;
    if (failure.isError()) {
        lastError_ = failure;
        return false;
    }
    openDevice_ = device;
    link_ = &serial_;
    emit portOpenChanged(true);
    return true;
}

int CommControl::InBufferCount() const {
    if (!PortOpen()) {
        return 0;
    }
    return static_cast<int>(link_->bytesAvailable() + bytesWaitingInDriver());
}

void CommControl::setInBufferCount(int count) {
    // As with the communications control, only 0 means something: discard.
    if (count != 0 || !PortOpen()) {
        return;
    }
    if (link_ == &serial_) {
        serial_.clear(QSerialPort::Input);
    } else {
        readWaitingBytes();
        socket_.readAll();
    }
}

bool CommControl::setOutput(const QByteArray& bytes) {
    lastError_ = {};
    if (!PortOpen()) {
        lastError_ = {PortError::Kind::NotOpen, deviceName(), PortWords::tr("nothing was sent")};
        return false;
    }
    // write() only queues the bytes; the settle time must start with the request handed to the
    // device.
    const bool sent = link_->write(bytes) == bytes.size() && flushLink();
    if (!PortOpen()) {
        // The port died while sending and is already reported as lost.
        return false;
    }
    if (!sent) {
        lastError_ = {PortError::Kind::Other, openDevice_,
                      PortWords::tr("cannot send: ") + link_->errorString()};
        // A request that goes out later, when the device takes bytes again, would be answered
        // into some other exchange.
        if (link_ == &serial_) {
            serial_.clear(QSerialPort::Output);
            serial_.clearError();
        }
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
    if (!PortOpen()) {
        return {};
    }
    readWaitingBytes();
    return PortOpen() ? link_->readAll() : QByteArray();
}

QString CommControl::deviceName() const {
    return PortOpen() || isOpening() ? openDevice_ : closedDeviceName();
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
    if (PortOpen() || isOpening()) {
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
    if (!PortOpen()) {
        return;
    }
    if (awaitingReply_) {
        emit bytesArrived();
        return;
    }
    // Nobody takes bytes that arrive between exchanges (a busy bus, a reply that came too late),
    // and the next exchange would discard them anyway; left in the link they pile up without
    // limit on a chatty line.
    const QByteArray dropped = link_->readAll();
    if (!dropped.isEmpty()) {
        emit bytesDropped(dropped);
    }
}

void CommControl::onSerialError(QSerialPort::SerialPortError error) {
    // Qt keeps raising read errors on a dead device, thousands a second, for as long as it stays
    // open: the first one closes it. Other errors (a missing modem line, a timeout while
    // waiting) leave the line usable.
    if (opening_ || link_ != &serial_) {
        return;
    }
    if (const std::optional<PortError> lost = lostPortError(serial_, error, openDevice_)) {
        loseLink(*lost);
    }
}

void CommControl::startConnecting(const QString& device) {
    const std::optional<NetworkAddress> address = networkAddress(device);
    if (!address) {
        lastError_ = {PortError::Kind::NotFound, device,
                      PortWords::tr("not a network device: give it as tcp://HOST:PORT")};
        return;
    }
    openDevice_ = device;
    connectTimer_.start(kConnectTimeoutMs);
    connecting_.start();
    socket_.connectToHost(address->host, address->port);
}

void CommControl::onConnected() {
    connectTimer_.stop();
    // A request is eight bytes: sent at once, not held back to fill a packet.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const auto roundTripMs = int(std::ceil(double(connecting_.nsecsElapsed()) / 1e6));
    networkAllowanceMs_ =
        std::min(kPacketisingAllowanceMs + 2 * roundTripMs, kLongestNetworkAllowanceMs);
    link_ = &socket_;
    emit portOpenChanged(true);
}

void CommControl::onSocketError(QAbstractSocket::SocketError error) {
    if (isOpening()) {
        failConnecting(socket_.errorString());
    } else if (link_ == &socket_) {
        loseLink({PortError::Kind::Lost, openDevice_,
                  error == QAbstractSocket::RemoteHostClosedError
                      ? PortWords::tr("the server closed the connection")
                      : socket_.errorString()});
    }
}

void CommControl::failConnecting(const QString& reason) {
    connectTimer_.stop();
    socket_.abort();
    lastError_ = {PortError::Kind::Other, openDevice_, PortWords::tr("cannot connect: ") + reason};
    emit openFailed(lastError_);
}

void CommControl::loseLink(const PortError& error) {
    // Set first: whoever hears of the closing asks why.
    lastError_ = error;
    closePort();
    emit portLost(error);
}

void CommControl::closePort() {
    if (isOpening()) {
        connectTimer_.stop();
        socket_.abort();
    }
    if (!PortOpen()) {
        return;
    }
    if (link_ == &socket_) {
        socket_.abort();
    } else {
        serial_.close();
    }
    link_ = nullptr;
    awaitingReply_ = false;
    emit portOpenChanged(false);
}

qint64 CommControl::bytesWaitingInDriver() const {
#ifdef Q_OS_UNIX
    const qintptr descriptor = link_ == &serial_ ? serial_.handle() : socket_.socketDescriptor();
    int waiting = 0;
    if (::ioctl(int(descriptor), FIONREAD, &waiting) == 0) {
        return waiting;
    }
#endif
    return 0;
}

void CommControl::readWaitingBytes() {
    // The link reads from the device only when the event loop hands it the chance; bytes that
    // came in since must be part of Input too. A zero wait takes them without blocking.
    if (bytesWaitingInDriver() > 0) {
        link_->waitForReadyRead(0);
    }
}

bool CommControl::flushLink() {
    return link_ == &serial_ ? serial_.flush() : socket_.flush() || socket_.bytesToWrite() == 0;
}

} // namespace darq
