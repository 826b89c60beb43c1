#include "window_timing.h"

#include "ui/form1.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
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
    latenessMs_.clear();
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
    auto* flow = form_->findChild<QLabel*>(QStringLiteral("Label4"));
    const QString noData = QStringLiteral("无数据\u201C");
    return runReadCycles(
        form_.get(), &Form1::readCycleEnded,
        [readButton, flow] {
            // An empty flow field tells this cycle's reading from the one before it.
            flow->clear();
            readButton->click();
        },
        [flow, noData] { return !flow->text().isEmpty() && flow->text() != noData; }, cycles, gapMs,
        cycles * (settleMs + gapMs) * 3 + 10000);
}

} // namespace darq::bench
