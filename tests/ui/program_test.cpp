// darq-flowtest as a program: its answers on the terminal, what its headless screenshot run
// reports, and how it ends on a signal.

#include "instrument_end.h"
#include "sim_process.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace darq {
namespace {

using testing::SimProcess;

void startWindow(QProcess& window, const QString& com1, const QStringList& arguments = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("DARQ_COM1", com1);
    window.setProcessEnvironment(environment);
    window.start(QStringLiteral(DARQ_FLOWTEST_PATH), arguments);
    ASSERT_TRUE(window.waitForStarted(5000));
}

// A package build writes the manual page from --help, and a server has no display either.
TEST(FlowtestProgram, HelpAndVersionNeedNoDisplay) {
    const struct {
        const char* option;
        const char* firstLine;
    } cases[] = {
        {"--help", "Usage: "},
        {"--version", "darq-flowtest "},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.option);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            environment.remove(QLatin1String(variable));
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(DARQ_FLOWTEST_PATH), {QLatin1String(row.option)});
        ASSERT_TRUE(program.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        EXPECT_TRUE(out.startsWith(QLatin1String(row.firstLine))) << out.toStdString();
    }
}

TEST(FlowtestProgram, ScreenshotRunFailsWhenNoReadingWasShown) {
    SimProcess answering;
    SimProcess silent({"--no-reply", "1"});
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const struct {
        const char* name;
        QString com1;
        int exitCode;
        const char* inStderr;
    } cases[] = {
        {"reading shown", QString::fromStdString(answering.devicePath()), 0, ""},
        {"nothing answers", QString::fromStdString(silent.devicePath()), 1, "nothing came back"},
        {"port cannot open", "/dev/darq-no-such-port", 1, "/dev/darq-no-such-port"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const QString picture = directory.filePath(QString::fromLatin1(row.name) + ".png");
        QProcess window;
        startWindow(window, row.com1, {"--screenshot", picture});
        ASSERT_TRUE(window.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(window.readAllStandardError());
        EXPECT_EQ(window.exitCode(), row.exitCode) << err.toStdString();
        EXPECT_TRUE(QFileInfo::exists(picture));
        EXPECT_TRUE(err.contains(row.inStderr)) << err.toStdString();
        if (row.exitCode != 0) {
            EXPECT_TRUE(err.contains("no reading")) << err.toStdString();
        }
    }
}

TEST(FlowtestProgram, TerminationClosesThePortAndReleasesItsLockFile) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        SimProcess sim;
        const QString lockFile = testing::lockFileQtUses(QString::fromStdString(sim.devicePath()));
        QProcess window;
        startWindow(window, QString::fromStdString(sim.devicePath()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(lockFile); }, 10000))
            << lockFile.toStdString();
        ::kill(static_cast<pid_t>(window.processId()), signal);
        ASSERT_TRUE(window.waitForFinished(10000));
        EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(window.exitCode(), 0);
        EXPECT_FALSE(QFileInfo::exists(lockFile));
    }
}

} // namespace
} // namespace darq
