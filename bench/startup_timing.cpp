#include "startup_timing.h"

#include "common/child_process.h"
#include "process_footprint.h"
#include "ui/form1.h"

#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace darq::bench {

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Reports once the window's first paint has run through: the report is queued behind the paint,
// so it comes after every child control of the window has been drawn as well.
class FirstPaintReporter : public QObject {
public:
    explicit FirstPaintReporter(Clock::time_point mainEntered) : mainEntered_(mainEntered) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            QTimer::singleShot(0, this, [this] { report(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void report() {
        const double shownMs = millisecondsSince(mainEntered_);
        std::printf("shown %.3f %ld\n", shownMs, highWaterResidentKiB("self"));
        std::fflush(stdout);
        QApplication::quit();
    }

    Clock::time_point mainEntered_;
    bool reported_ = false;
};

} // namespace

int runStartupProbe(int argc, char* argv[], Clock::time_point mainEntered) {
    QApplication application(argc, argv);
    Form1 form;
    FirstPaintReporter reporter(mainEntered);
    form.installEventFilter(&reporter);
    form.show();
    return QApplication::exec();
}

StartupRuns measureProbeStartup(const std::string& com1Device, int runs) {
    StartupRuns result;
    const std::string self = ownProgramPath();
    ChildProcess::Options options;
    options.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"DARQ_COM1", com1Device}};
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point spawned = Clock::now();
        ChildProcess probe(self, {kStartupProbeOption}, options);
        const std::optional<std::string> line = probe.readLine(20000);
        const double wholeMs = millisecondsSince(spawned);
        const std::optional<ChildProcess::Ending> ending = probe.wait(5000);
        double inProcessMs = 0;
        long peakKiB = 0;
        if (!line || !ending ||
            std::sscanf(line->c_str(), "shown %lf %ld", &inProcessMs, &peakKiB) != 2) {
            result.problem = "the start-up probe did not report its window";
            return result;
        }
        result.wholeProcessMs.push_back(wholeMs);
        result.inProcessMs.push_back(inProcessMs);
        result.peakResidentKiB = std::max(result.peakResidentKiB, peakKiB);
    }
    return result;
}

StartupRuns measureScreenshotRuns(const std::string& com1Device, int runs) {
    StartupRuns result;
    QTemporaryDir pictures;
    ChildProcess::Options options;
    options.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"DARQ_COM1", com1Device}};
    for (int run = 0; run < runs; ++run) {
        const std::string picture =
            pictures.filePath(QStringLiteral("reading-%1.png").arg(run)).toStdString();
        const Clock::time_point spawned = Clock::now();
        ChildProcess flowtest(DARQ_FLOWTEST_PATH, {"--screenshot", picture}, options);
        const std::optional<std::string> line = flowtest.readLine(20000);
        const double wholeMs = millisecondsSince(spawned);
        const std::optional<ChildProcess::Ending> ending = flowtest.wait(5000);
        if (!line || *line != picture || !ending || ending->exitStatus != 0) {
            result.problem = "darq-flowtest --screenshot did not save its picture";
            return result;
        }
        result.wholeProcessMs.push_back(wholeMs);
        result.peakResidentKiB = std::max(result.peakResidentKiB, flowtest.peakResidentKiB());
    }
    return result;
}

} // namespace darq::bench
