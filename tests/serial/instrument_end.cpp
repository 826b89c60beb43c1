#include "instrument_end.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace darq::testing {

namespace {
constexpr std::size_t kRequestSize = 8;
}

InstrumentEnd::InstrumentEnd() {
    char name[256] = {};
    if (::openpty(&master_, &toolSide_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    devicePath_ = QString::fromLocal8Bit(name);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readRequests(); });
}

InstrumentEnd::~InstrumentEnd() {
    joinOwnThread();
    hangUp();
    ::close(toolSide_);
}

void InstrumentEnd::readRequests() {
    std::uint8_t buffer[256];
    const ssize_t count = ::read(master_, buffer, sizeof buffer);
    if (count <= 0) {
        return;
    }
    received_.insert(received_.end(), buffer, buffer + count);
    while (received_.size() - handled_ >= kRequestSize) {
        const Bytes request(received_.begin() + static_cast<std::ptrdiff_t>(handled_),
                            received_.begin() +
                                static_cast<std::ptrdiff_t>(handled_ + kRequestSize));
        handled_ += kRequestSize;
        if (handler_) {
            handler_(request);
        }
        if (master_ < 0) {
            return;
        }
    }
}

void InstrumentEnd::answerOnOwnThread(Bytes reply) {
    notifier_->setEnabled(false);
    ownThread_ = std::thread([this, reply = std::move(reply)] {
        QDeadlineTimer deadline(5000);
        while (received_.size() < kRequestSize && !deadline.hasExpired()) {
            pollfd ready{master_, POLLIN, 0};
            if (::poll(&ready, 1, 50) == 1) {
                std::uint8_t buffer[64];
                const ssize_t count = ::read(master_, buffer, sizeof buffer);
                if (count > 0) {
                    received_.insert(received_.end(), buffer, buffer + count);
                }
            }
        }
        [[maybe_unused]] const ssize_t written = ::write(master_, reply.data(), reply.size());
    });
}

void InstrumentEnd::joinOwnThread() {
    if (ownThread_.joinable()) {
        ownThread_.join();
    }
}

void InstrumentEnd::send(const Bytes& bytes) {
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("writing to the pseudo-terminal failed");
    }
}

void InstrumentEnd::sendWhenWritable(const Bytes& bytes, int timeoutMs) {
    std::size_t sent = 0;
    QDeadlineTimer deadline(timeoutMs);
    while (sent < bytes.size() && !deadline.hasExpired()) {
        pollfd writable{master_, POLLOUT, 0};
        if (::poll(&writable, 1, 50) != 1) {
            continue;
        }
        const ssize_t count = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        }
    }
    if (sent < bytes.size()) {
        throw std::runtime_error("the line took no more bytes");
    }
}

void InstrumentEnd::hangUp() {
    if (master_ < 0) {
        return;
    }
    notifier_->setEnabled(false);
    ::close(master_);
    master_ = -1;
}

void InstrumentEnd::jamToolOutput() {
    notifier_->setEnabled(false);
    // Raw, as the tool sets the line: a terminal that still processes output has less room.
    termios raw = lineSettings();
    cfmakeraw(&raw);
    ::tcsetattr(toolSide_, TCSANOW, &raw);
    ::fcntl(toolSide_, F_SETFL, ::fcntl(toolSide_, F_GETFL) | O_NONBLOCK);
    // The kernel moves what the line holds on into the far end's own buffer a moment later,
    // which makes room again: fill until a pause frees none.
    const std::uint8_t filler[4096] = {};
    for (bool tookMore = true; tookMore;) {
        tookMore = false;
        for (const std::size_t size : {sizeof filler, std::size_t{1}}) {
            while (::write(toolSide_, filler, size) > 0) {
                tookMore = true;
            }
        }
        QThread::msleep(50);
    }
}

termios InstrumentEnd::lineSettings() const {
    termios settings{};
    ::tcgetattr(toolSide_, &settings);
    return settings;
}

ScopedComPort::ScopedComPort(int commPort, const QString& device)
    : variable_("DARQ_COM" + QByteArray::number(commPort)) {
    if (qEnvironmentVariableIsSet(variable_.constData())) {
        previous_ = qgetenv(variable_.constData());
    }
    qputenv(variable_.constData(), device.toLocal8Bit());
}

ScopedComPort::~ScopedComPort() {
    if (previous_) {
        qputenv(variable_.constData(), *previous_);
    } else {
        qunsetenv(variable_.constData());
    }
}

QString lockFileQtUses(const QString& device) {
    const QString name = QStringLiteral("LCK..") + QString(device).remove(0, 5).replace('/', '_');
    for (const char* directory : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                  "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const QFileInfo info(QString::fromLatin1(directory));
        const QString file = info.filePath() + QLatin1Char('/') + name;
        if (info.isReadable() && (QFileInfo::exists(file) || info.isWritable())) {
            return file;
        }
    }
    return {};
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void runEventsFor(int milliseconds) {
    waitFor([] { return false; }, milliseconds);
}

QByteArray hex(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()))
        .toHex(' ')
        .toUpper();
}

} // namespace darq::testing
