#include "common/interrupt_notifier.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace darq {

namespace {

int interruptPipe[2] = {-1, -1};

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

void writeInterruptByte(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

InterruptNotifier::InterruptNotifier(QObject* parent) : QObject(parent) {
    if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the pipe the signals keep their default effect and end the program at once.
        return;
    }
    notifier_ = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InterruptNotifier::onPipeReadable);

    struct sigaction action {};
    action.sa_handler = writeInterruptByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kInterruptSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

InterruptNotifier::~InterruptNotifier() {
    for (const int signal : kInterruptSignals) {
        ::signal(signal, SIG_DFL);
    }
    if (notifier_ != nullptr) {
        ::close(interruptPipe[0]);
        ::close(interruptPipe[1]);
        interruptPipe[0] = interruptPipe[1] = -1;
    }
}

void InterruptNotifier::onPipeReadable() {
    char bytes[16];
    while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
    }
    emit interrupted();
}

} // namespace darq
