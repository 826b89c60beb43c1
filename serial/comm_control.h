#pragma once

#include "protocol/bytes.h"
#include "serial/line_settings.h"
#include "serial/port_error.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace darq {

// The window's one serial port, with the properties a communications control offers:
// CommPort (1 or 2), Settings ("9600,n,8,2"), PortOpen, InBufferCount (assign 0 to discard),
// Output (assign to send) and Input (read to take every waiting byte). Input is always binary and
// always every waiting byte; there is no flow control; DTR is raised while open and RTS stays low.
// Read exchanges run on it through ExchangeEngine, which never blocks the thread.
//
// The device may also be a serial device server's raw TCP port, tcp://HOST:PORT: the same bytes
// over a connection, the line settings being the server's business (the rate still sets the
// waits). Such a port opens in the background: open() returns false with isOpening() true, and
// portOpenChanged(true) or openFailed() follows.
class CommControl : public QObject {
    Q_OBJECT
    Q_PROPERTY(int CommPort READ CommPort WRITE setCommPort)
    Q_PROPERTY(QString Settings READ Settings WRITE setSettings)
    Q_PROPERTY(bool PortOpen READ PortOpen WRITE setPortOpen NOTIFY portOpenChanged)
    Q_PROPERTY(int InBufferCount READ InBufferCount WRITE setInBufferCount)

public:
    explicit CommControl(QObject* parent = nullptr);
    ~CommControl() override;

    int CommPort() const;
    // Refused (false, lastError NotOpen-style Other) while the port is open.
    bool setCommPort(int commPort);

    QString Settings() const;
    // Changes the line at once, open or closed. A malformed text is refused with an
    // InvalidSettings error and the line stays as it was.
    bool setSettings(const QString& settings);

    bool PortOpen() const;
    // true opens the device CommPort denotes, false closes. Returns whether the port is now in
    // the asked state; on failure lastError() names the device and the reason.
    bool setPortOpen(bool open);
    // A network device is connecting; closing the port gives that up.
    bool isOpening() const;
    // What a reply's wait adds for the network's round trip, from the time the connection took
    // to open; 0 for a serial device.
    int networkAllowanceMs() const;

    int InBufferCount() const;
    // 0 discards every received byte still waiting (in Qt's buffer and the driver's).
    void setInBufferCount(int count);

    // Sends the bytes and pushes them to the device at once. Refused on a closed port; when the
    // device does not take them, lastError() says why and none of them goes out later.
    bool setOutput(const QByteArray& bytes);
    // Every byte received since the last Output, removed from the buffer; empty on a closed port.
    // Bytes that arrive after Input was taken and before the next Output belong to no exchange:
    // they are read and dropped as they come (see bytesDropped).
    QByteArray Input();
    // The bytes of the awaited reply that have come so far, removed from the buffer; the reply
    // stays awaited until Input is taken.
    QByteArray takeArrived();
    bool send(const Bytes& frame);

    // The device the port is open on; while closed, the one the next open takes.
    QString deviceName() const;
    // Opens this device from now on, whatever CommPort says: for a command line that names the
    // device itself.
    void setDevice(const QString& device);
    // The kernel's RS-485 mode for the next opens, or none (the default: RTS stays low). A device
    // without that mode then fails to open.
    void setRs485(const std::optional<Rs485Mode>& mode);
    int baudRate() const;
    PortError lastError() const;

    // Port control operations for the window.
    bool open();
    void close();
    // Closes an open port or opens a closed one; returns whether the port is open afterwards.
    bool toggle();
    // Applies the settings of a rate list position (see settingsForRatePosition); the port stays
    // open or closed as it was.
    bool applyRate(int listPosition);
    // Closes the port, selects port choiceIndex + 1 and opens it. Returns false, with the port
    // left closed and lastError() saying why, when the new port cannot be opened.
    bool switchPort(int choiceIndex);

signals:
    void portOpenChanged(bool open);
    // A network device could not be connected; the port stays closed.
    void openFailed(const darq::PortError& error);
    // The open port died (USB adapter pulled, far end of the line closed). It is already closed
    // when this arrives, after portOpenChanged(false), and it is reported once.
    void portLost(const darq::PortError& error);
    // New bytes of an awaited reply are waiting in Input.
    void bytesArrived();
    // Bytes that arrived while no reply was awaited, read and dropped: on a busy bus, or a reply
    // that came too late.
    void bytesDropped(const QByteArray& bytes);

private:
    void onReadyRead();
    void onSerialError(QSerialPort::SerialPortError error);
    void onSocketError(QAbstractSocket::SocketError error);
    void startConnecting(const QString& device);
    void onConnected();
    void failConnecting(const QString& reason);
    void loseLink(const PortError& error);
    void closePort();
    QString closedDeviceName() const;
    // Bytes the operating system has received that the link has not read in yet.
    qint64 bytesWaitingInDriver() const;
    void readWaitingBytes();
    bool flushLink();

    QSerialPort serial_;
    QTcpSocket socket_;
    QIODevice* link_ = nullptr; // the open one of the two
    QTimer connectTimer_;       // a server that never answers the connection
    QElapsedTimer connecting_;
    int networkAllowanceMs_ = 0;
    int commPort_ = 1;
    LineSettings settings_;
    PortError lastError_;
    QString openDevice_;   // the device the open port was opened on
    QString fixedDevice_;  // when set, the device to open instead of CommPort's
    std::optional<Rs485Mode> rs485_;
    bool opening_ = false; // errors QSerialPort raises while opening belong to the open's result
    bool awaitingReply_ = false; // from a request sent until its reply is taken
};

} // namespace darq
