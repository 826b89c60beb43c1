#include "naive_window.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>

namespace darq::bench {

namespace {
constexpr int kFixedSettleMs = 100;
}

void SleepingPort::settleWait(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
    QCoreApplication::processEvents();
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
    const ExchangeResult result = runReadExchange(sleepingPort_, 1, kFixedSettleMs);
    readingShown_ = result.status == ExchangeStatus::Completed &&
                    result.outcome.kind == ReadOutcome::Kind::Decoded;
    flow_->setText(readingShown_ ? QString::fromStdString(result.outcome.flowText)
                                 : QStringLiteral("无数据\u201C"));
    emit readCycleEnded();
}

} // namespace darq::bench
