#include "naive_window.h"

#include "protocol/read_request.h"
#include "protocol/reply.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>

namespace darq::bench {

namespace {
constexpr int kFixedSettleMs = 100;
}

NaiveReadWindow::NaiveReadWindow()
    : readButton_(new QPushButton(QStringLiteral("读取"), this)), flow_(new QLabel(this)) {
    // Placed by hand: a layout on a top-level widget asks the offscreen platform for size hints
    // it does not support, and it says so on every run.
    setFixedSize(200, 80);
    readButton_->setGeometry(10, 10, 180, 30);
    flow_->setGeometry(10, 45, 180, 25);
    port_.setSettings(QStringLiteral("9600,n,8,2"));
    port_.open();
    connect(readButton_, &QPushButton::clicked, this, &NaiveReadWindow::readOnce);
}

bool NaiveReadWindow::portOpen() const {
    return port_.PortOpen();
}

void NaiveReadWindow::readOnce() {
    const ReadRequest request = *buildReadRequest(1);
    const Bytes frame(request.begin(), request.end());
    port_.setInBufferCount(0);
    port_.send(frame);
    QThread::msleep(kFixedSettleMs);
    QCoreApplication::processEvents();
    const QByteArray input = port_.Input();
    const ReadOutcome outcome = judgeReply(frame, Bytes(input.begin(), input.end()));
    readingShown_ = outcome.kind == ReadOutcome::Kind::Decoded;
    flow_->setText(readingShown_ ? QString::fromStdString(outcome.flowText)
                                 : QStringLiteral("无数据\u201C"));
    emit readCycleEnded();
}

} // namespace darq::bench
