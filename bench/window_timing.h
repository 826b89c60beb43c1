#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace darq {
class Form1;
}

namespace darq::bench {

struct CycleRun {
    std::vector<double> durationsMs; // press to the end of the cycle, one per cycle
    int succeeded = 0;               // cycles that ended with a reading on display
    bool finished = false;           // false when the cycles stopped coming to an end
};

// Presses a read button `cycles` times, each press once the previous cycle has ended and `gapMs`
// have passed, and times every press to the end of its cycle. Everything runs in the event
// loop, as an operator's clicks would.
template <typename Window, typename CycleEndedSignal>
CycleRun
runReadCycles(Window* window, CycleEndedSignal cycleEnded, const std::function<void()>& press,
              const std::function<bool()>& readingShown, int cycles, int gapMs, int timeoutMs) {
    CycleRun run;
    QEventLoop loop;
    QElapsedTimer sincePress;
    const auto pressNow = [&] {
        sincePress.start();
        press();
    };
    const QMetaObject::Connection ended = QObject::connect(window, cycleEnded, &loop, [&] {
        run.durationsMs.push_back(double(sincePress.nsecsElapsed()) / 1e6);
        run.succeeded += readingShown() ? 1 : 0;
        if (int(run.durationsMs.size()) >= cycles) {
            loop.quit();
        } else {
            QTimer::singleShot(gapMs, Qt::PreciseTimer, &loop, pressNow);
        }
    });
    QTimer::singleShot(0, &loop, pressNow);
    QTimer::singleShot(timeoutMs, &loop, [&loop] { loop.exit(1); });
    run.finished = loop.exec() == 0;
    QObject::disconnect(ended);
    return run;
}

// A timer that should tick every `periodMs`: how late each tick came is how long the event loop
// was held up by whatever ran before it.
class EventLoopProbe {
public:
    explicit EventLoopProbe(int periodMs);
    // Each start adds to the samples of earlier ones, so that one probe can watch several slices.
    void start();
    void stop();
    // Each gap between ticks minus the period, within the slices watched.
    const std::vector<double>& latenessMs() const { return latenessMs_; }

private:
    int periodMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastTickNs_ = 0;
    std::vector<double> latenessMs_;
};

// The tool's own window, darq::Form1, with COM1 on the given device, shown offscreen.
class ToolWindow {
public:
    explicit ToolWindow(const std::string& com1Device);
    ~ToolWindow();

    // The window's own account: Command1 says "关闭端口" while the port is open.
    bool portOpen() const;
    // Picks `baud` in the rate list Combo2 with the arrow keys, as an operator would.
    bool selectRate(int baud);
    // Presses "读取" (Command2) `cycles` times, timed up to readCycleEnded.
    CycleRun read(int cycles, int gapMs, int settleMs);
    // Opens the traffic log beside the window, as F12 does.
    void showTrafficLog();
    // Adds `rows` copies of the log's newest row, as hours of reading would leave them; the log
    // needs a row, so read once before.
    void repeatNewestLogRow(int rows);
    // Adds `rows` readings like the log's newest row, `stepMs` apart and ending now, their flow
    // wandering, as automatic reading would have left them.
    void fillLogWithReadings(int rows, int stepMs);
    // Opens the trend beside the window, as Ctrl+T does.
    void showTrend();

private:
    std::unique_ptr<Form1> form_;
};

} // namespace darq::bench
