// darq-read as a technician runs it: a child process talking to darq-sim on a pseudo-terminal.

#include "sim_process.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <string>
#include <vector>

namespace {

using darq::testing::SimProcess;

// Values that exercise both decimal points and the total's high part.
const std::vector<std::string> kFixedValues = {
    "--flow",      "123456",   "--flow-decimals",  "2", "--total-high", "7",
    "--total-low", "12345678", "--total-decimals", "3"};

const char* const kRequestForAddress1 = "01 03 01 03 00 03 F4 37";

struct ProgramRun {
    int exitCode = -1; // -1 when it crashed or had to be killed
    std::string out;
    std::string err;
};

std::vector<std::string> withFaults(std::vector<std::string> faults) {
    faults.insert(faults.end(), kFixedValues.begin(), kFixedValues.end());
    return faults;
}

QStringList toQt(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    return list;
}

// Every run gets a generous timeout: on a loaded machine the virtual instrument's reply may come
// far later than the 100 ms default allows, and a clean reply ends by the gap long before it.
void startDarqRead(QProcess& process, const std::vector<std::string>& arguments) {
    process.start(QStringLiteral(DARQ_READ_PATH),
                  QStringList{"--timeout", "1000"} + toQt(arguments));
    ASSERT_TRUE(process.waitForStarted(5000));
}

ProgramRun finish(QProcess& process) {
    ProgramRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

ProgramRun runDarqRead(const std::vector<std::string>& arguments) {
    QProcess process;
    startDarqRead(process, arguments);
    return finish(process);
}

// Waits, with a generous bound, until the running darq-read has printed its first reading.
bool waitForFirstReading(QProcess& process) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (process.canReadLine() || process.waitForReadyRead(200)) {
            return true;
        }
    }
    return false;
}

TEST(DarqRead, PrintsADecodedReadingInEachFormat) {
    const std::string time = R"("?\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"?)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"text", R"(flow 1234\.56  total 712345\.678\n)"},
        {"csv", R"(time,address,outcome,flow,total,bytes,crc,latency_ms\n)" + time +
                    R"(,1,decoded,1234\.56,712345\.678,17,ok,\d+\.\d\n)"},
        {"json", R"(\{"time":)" + time +
                     R"(,"address":1,"outcome":"decoded","flow":"1234\.56","total":"712345\.678",)"
                     R"("bytes":17,"crc_ok":true,"latency_ms":\d+\.\d\}\n)"},
    };
    SimProcess sim(kFixedValues);
    for (const auto& [format, expected] : cases) {
        SCOPED_TRACE(format);
        const ProgramRun run = runDarqRead({"--port", sim.devicePath(), "--format", format});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(std::regex_match(run.out, std::regex(expected))) << run.out;
    }
}

TEST(DarqRead, ExitStatusSaysHowTheRunWent) {
    const std::string port = "PORT";
    struct Case {
        const char* name;
        std::vector<std::string> simArguments;
        std::vector<std::string> readArguments;
        int exitCode;
        std::string inStderr;
    };
    const std::vector<Case> cases = {
        {"decoded", kFixedValues, {"--port", port}, 0, ""},
        {"no data", withFaults({"--no-reply", "1"}), {"--port", port}, 1, ""},
        {"missing device",
         kFixedValues,
         {"--port", "/dev/darq-no-such-port"},
         2,
         "/dev/darq-no-such-port"},
        {"unknown option", kFixedValues, {"--port", port, "--speed", "9600"}, 64, "--speed"},
        {"address out of range", kFixedValues, {"--port", port, "--address", "129"}, 64, "129"},
        {"rate not listed", kFixedValues, {"--port", port, "--baud", "19200"}, 64, "19200"},
        {"count not a number", kFixedValues, {"--port", port, "--count", "three"}, 64, "three"},
        {"interval not a number", kFixedValues, {"--port", port, "--interval", "2s"}, 64, "2s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.simArguments);
        std::vector<std::string> arguments = c.readArguments;
        for (std::string& argument : arguments) {
            if (argument == port) {
                argument = sim.devicePath();
            }
        }
        const ProgramRun run = runDarqRead(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.inStderr), std::string::npos) << run.err;
        if (c.exitCode == 64) {
            EXPECT_NE(run.err.find("usage: darq-read --port DEVICE"), std::string::npos);
            EXPECT_EQ(run.out, "");
        }
        const bool requestSeen = sim.log().find(kRequestForAddress1) != std::string::npos;
        EXPECT_EQ(requestSeen, c.exitCode == 0 || c.exitCode == 1) << sim.log();
    }
}

TEST(DarqRead, SaysWhatAnUndecodedReadingMostLikelyMeans) {
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        std::string firstLine; // regex
        std::string diagnosis; // regex
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"silence", {"--no-reply", "1"}, "no data", "  nothing came back: .*", 1},
        {"echo only",
         {"--echo", "1", "--no-reply", "1"},
         "ignored: 8 bytes",
         "  only the echo of our own request came back: .*",
         1},
        {"wrong length",
         {"--short-reply", "1"},
         "ignored: ([1-9]|1[0-6]) bytes",
         "  ([1-9]|1[0-6]) bytes came back, not 17: .*",
         1},
        {"bad check value",
         {"--bad-crc", "1"},
         R"(flow 1234\.56  total 712345\.678  bad CRC)",
         "  the 17-byte reply has a wrong check value: .*",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(withFaults(c.faults));
        const ProgramRun run = runDarqRead({"--port", sim.devicePath()});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_TRUE(std::regex_match(run.out, std::regex(c.firstLine + "\n" + c.diagnosis + "\n")))
            << run.out;
    }
}

TEST(DarqRead, CountThreeGivesThreeRowsAndASummary) {
    SimProcess sim(kFixedValues);
    const ProgramRun run = runDarqRead(
        {"--port", sim.devicePath(), "--count", "3", "--interval", "100", "--format", "csv"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::regex_match(
        run.out,
        std::regex(R"(time,[a-z_,]+\n(\S+,1,decoded,1234\.56,712345\.678,17,ok,\S+\n){3})")))
        << run.out;
    EXPECT_NE(run.err.find("summary: reads 3  decoded 3  no data 0  ignored 0  bad CRC 0"),
              std::string::npos)
        << run.err;
}

TEST(DarqRead, InterruptEndsAnEndlessRunWithTheSummary) {
    SimProcess sim(kFixedValues);
    QProcess process;
    startDarqRead(process, {"--port", sim.devicePath(), "--count", "0", "--interval", "100"});
    ASSERT_TRUE(waitForFirstReading(process));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const ProgramRun run = finish(process);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("flow 1234.56  total 712345.678\n", 0), 0u) << run.out;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(R"(summary: reads [1-9]\d*  decoded)")))
        << run.err;
}

TEST(DarqRead, APortThatDiesMidRunIsReportedWithStatusTwo) {
    SimProcess sim(kFixedValues);
    QProcess process;
    startDarqRead(process, {"--port", sim.devicePath(), "--count", "0", "--interval", "100"});
    ASSERT_TRUE(waitForFirstReading(process));
    sim.kill();
    const ProgramRun run = finish(process);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("darq-read: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(sim.devicePath()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("summary: reads "), std::string::npos) << run.err;
}

} // namespace
