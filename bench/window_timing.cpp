#include "window_timing.h"

#include "ui/form1.h"
#include "ui/traffic_log.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>

namespace darq::bench {

EventLoopProbe::EventLoopProbe(int periodMs) : periodMs_(periodMs) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(periodMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        const qint64 now = clock_.nsecsElapsed();
        latenessMs_.push_back(double(now - lastTickNs_) / 1e6 - periodMs_);
        lastTickNs_ = now;
    });
}

void EventLoopProbe::start() {
    clock_.start();
    lastTickNs_ = 0;
    timer_.start();
}

void EventLoopProbe::stop() {
    timer_.stop();
}

ToolWindow::ToolWindow(const std::string& com1Device) {
    qputenv("DARQ_COM1", QByteArray::fromStdString(com1Device));
    form_ = std::make_unique<Form1>();
    form_->show();
}

ToolWindow::~ToolWindow() = default;

bool ToolWindow::portOpen() const {
    return form_->findChild<QPushButton*>(QStringLiteral("Command1"))->text() ==
           QStringLiteral("关闭端口");
}

bool ToolWindow::selectRate(int baud) {
    auto* rates = form_->findChild<QComboBox*>(QStringLiteral("Combo2"));
    const int wanted = rates->findText(QString::number(baud));
    if (wanted < 0) {
        return false;
    }
    for (int presses = 0; presses < rates->count() && rates->currentIndex() != wanted; ++presses) {
        const int key = rates->currentIndex() > wanted ? Qt::Key_Up : Qt::Key_Down;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(rates, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(rates, &release);
    }
    return rates->currentIndex() == wanted;
}

CycleRun ToolWindow::read(int cycles, int gapMs, int settleMs) {
    auto* readButton = form_->findChild<QPushButton*>(QStringLiteral("Command2"));
    // The window says with each cycle's end whether a reading went on display; connected ahead of
    // the timing, so that the answer is in when the cycle is counted.
    QString lastFailure;
    const QMetaObject::Connection told =
        QObject::connect(form_.get(), &Form1::readCycleEnded,
                         [&lastFailure](const QString& failure) { lastFailure = failure; });
    const CycleRun run = runReadCycles(
        form_.get(), &Form1::readCycleEnded, [readButton] { readButton->click(); },
        [&lastFailure] { return lastFailure.isEmpty(); }, cycles, gapMs,
        cycles * (settleMs + gapMs) * 3 + 10000);
    QObject::disconnect(told);
    return run;
}

void ToolWindow::showTrafficLog() {
    form_->showTrafficLog();
}

void ToolWindow::showTrend() {
    form_->showTrend();
}

void ToolWindow::fillLogWithReadings(int rows, int stepMs) {
    auto* log = form_->findChild<TrafficLogModel*>();
    TrafficLogEntry entry = log->entries().back();
    const auto newest = std::chrono::system_clock::now();
    for (int row = 0; row < rows; ++row) {
        entry.record.time = newest - std::chrono::milliseconds(std::int64_t(rows - row) * stepMs);
        entry.record.outcome.flowText = std::to_string(1200 + (row * 37) % 100) + ".50";
        log->addEntry(entry);
    }
}

void ToolWindow::repeatNewestLogRow(int rows) {
    auto* log = form_->findChild<TrafficLogModel*>();
    const TrafficLogEntry newest = log->entries().back();
    for (int row = 0; row < rows; ++row) {
        log->addEntry(newest);
    }
}

} // namespace darq::bench
