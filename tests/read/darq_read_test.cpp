// darq-read as a technician runs it: a child process talking to darq-sim on a pseudo-terminal.

#include "instrument_end.h"
#include "protocol/reading_record.h"
#include "protocol/reply.h"
#include "sim_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdint>
#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using darq::Bytes;
using darq::testing::InstrumentEnd;
using darq::testing::SimProcess;

// Values that exercise both decimal points and the total's high part.
const std::vector<std::string> kFixedValues = {
    "--flow",      "123456",   "--flow-decimals",  "2", "--total-high", "7",
    "--total-low", "12345678", "--total-decimals", "3"};

const char* const kRequestForAddress1 = "01 03 01 03 00 03 F4 37";

// The local time a text row starts with.
const std::string kClock = R"(\d\d:\d\d:\d\d\.\d{3}  )";

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
        {"text", kClock + R"(flow 1234\.56  total 712345\.678\n)"},
        {"csv", R"(time,address,outcome,flow,total,bytes,crc,latency_ms,baud,echo,exception,)"
                R"(header_ok,device,total_back\n)" +
                    time + R"(,1,decoded,1234\.56,712345\.678,17,ok,\d+\.\d,9600,false,,true,)" +
                    "/dev/pts/\\d+,false\\n"},
        {"json",
         R"(\{"time":)" + time +
             R"(,"address":1,"baud":9600,"outcome":"decoded","flow":1234\.56,)"
             R"("total":712345\.678,"bytes":17,"crc_ok":true,"latency_ms":\d+\.\d,)"
             R"("echo":false,"exception":null,"header_ok":true,"device":"/dev/pts/\d+",)"
             R"("total_back":false\}\n)"},
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
            EXPECT_NE(run.err.find("Usage: darq-read -p DEVICE"), std::string::npos);
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
         "no data  echo removed",
         "  only the echo of our own request came back: .*",
         1},
        {"reply behind the echo",
         {"--echo", "1"},
         R"(flow 1234\.56  total 712345\.678  echo removed)",
         "",
         0},
        {"wrong length",
         {"--short-reply", "1"},
         "ignored: ([1-9]|1[0-6]) bytes",
         "  ([1-9]|1[0-6]) bytes came back, not 17: .*",
         1},
        {"bad check value",
         {"--bad-crc", "1"},
         R"(flow 1234\.56  total 712345\.678  bad CRC)",
         "  the 17-byte reply has a wrong check value: .*",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(withFaults(c.faults));
        const ProgramRun run = runDarqRead({"--port", sim.devicePath()});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const std::string diagnosisLine = c.diagnosis.empty() ? "" : c.diagnosis + "\n";
        EXPECT_TRUE(
            std::regex_match(run.out, std::regex(kClock + c.firstLine + "\n" + diagnosisLine)))
            << run.out;
    }
}

TEST(DarqRead, TheCsvHeaderIsWrittenOncePerFile) {
    SimProcess sim(kFixedValues);
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString log = directory.filePath("log.csv");
    const QString read = "\"$0\" -p \"$1\" -t 1000 -f csv";
    const struct {
        const char* name;
        QString shellCommand; // in order, on one file
        int headers;
        int rows;
    } cases[] = {
        {"a new file", read + " > \"$2\"", 1, 1},
        {"appended to", read + " >> \"$2\"", 1, 2},
        {"appended to again", read + " >> \"$2\"", 1, 3},
        {"written afresh", read + " > \"$2\"", 1, 1},
        {"--no-header, through a pipe", read + " --no-header | cat > \"$2\"", 0, 1},
        {"an empty file appended to", ": > \"$2\"; " + read + " >> \"$2\"", 1, 1},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        QProcess process;
        process.start(QStringLiteral("/bin/sh"),
                      {"-c", row.shellCommand, QStringLiteral(DARQ_READ_PATH),
                       QString::fromStdString(sim.devicePath()), log});
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        QFile file(log);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const std::string content = file.readAll().toStdString();
        const auto count = [&content](const char* pattern) {
            const std::regex line(pattern);
            return std::distance(std::sregex_iterator(content.begin(), content.end(), line),
                                 std::sregex_iterator());
        };
        EXPECT_EQ(count("(^|\n)time,address,"), row.headers) << content;
        EXPECT_EQ(count(",1,decoded,"), row.rows) << content;
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
    EXPECT_TRUE(std::regex_search(run.out, std::regex("^" + kClock + "flow 1234\\.56  total ")))
        << run.out;
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

TEST(DarqRead, ScanFindsAnInstrumentAtARateAndAddressItWasNotToldAndSaysWhatItHeard) {
    const struct {
        const char* name;
        std::vector<std::string> simArguments;
        int exitCode;
        std::string out;   // regex
        std::string heard; // in stderr
    } cases[] = {
        {"behind an echoing adapter",
         withFaults({"--address", "37", "--rate", "2400", "--echo", "1"}), 0,
         R"(\{"time":"[^"]+","address":37,"baud":2400,"outcome":"decoded","flow":1234\.56,)"
         R"("total":712345\.678,"bytes":17,"crc_ok":true,"latency_ms":\d+\.\d,"echo":true,)"
         R"("exception":null,"header_ok":true,"device":"/dev/pts/\d+","total_back":false\}\n)",
         "Instrument found: address 37 at 2400 Bd."},
        {"nobody answers", withFaults({"--no-reply", "1"}), 1, "", "Nothing came back at any rate"},
        {"only the echo", withFaults({"--no-reply", "1", "--echo", "1"}), 1, "",
         "Only our own request came back at 9600 Bd, 2400 Bd"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        SimProcess sim(row.simArguments);
        QProcess process;
        process.start(QStringLiteral(DARQ_READ_PATH),
                      toQt({"--port", sim.devicePath(), "--scan", "--address", "30-40", "--baud",
                            "9600,2400", "--format", "json", "--timeout", "150"}));
        const ProgramRun run = finish(process);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_TRUE(std::regex_match(run.out, std::regex(row.out))) << run.out;
        EXPECT_NE(run.err.find(row.heard), std::string::npos) << run.err;
    }
}

// A number of megabytes from a line of /proc/PID/status, such as "VmRSS:   12345 kB".
double residentMegabytes(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

TEST(DarqRead, BytesBetweenReadsAreDroppedAndALateReplyIsToldOnce) {
    InstrumentEnd line;
    QProcess process;
    // Under AddressSanitizer freed memory waits in a quarantine of 256 MB, to catch late uses,
    // before it is used again: here that would count as growth. A small one still catches them.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString sanitizerOptions = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS", (sanitizerOptions.isEmpty() ? "" : sanitizerOptions + ":") +
                                           "quarantine_size_mb=4");
    process.setProcessEnvironment(environment);
    // No second read comes before the signal, however long a busy machine takes for the 32 MB.
    startDarqRead(process, {"--port", line.devicePath().toStdString(), "--timeout", "50", "--count",
                            "0", "--interval", "600000"});
    ASSERT_TRUE(waitForFirstReading(process));
    const double before = residentMegabytes(process.processId());

    // A chatty bus while darq-read waits for its next read: 32 MB that nobody asked for.
    const Bytes chunk(65536, 0xA5);
    for (int sent = 0; sent < 512; ++sent) {
        line.sendWhenWritable(chunk, 5000);
    }
    QTest::qWait(200);
    const double after = residentMegabytes(process.processId());
    EXPECT_LT(after - before, 8.0) << before << " MB before, " << after << " MB after";

    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const ProgramRun run = finish(process);
    const std::regex late(
        "darq-read: a reply came \\d+ ms late: raise --timeout \\(it is 50 ms\\)");
    const auto told = std::distance(std::sregex_iterator(run.err.begin(), run.err.end(), late),
                                    std::sregex_iterator());
    EXPECT_EQ(told, 1) << run.err;
}

TEST(DarqRead, NumbersInMachineOutputIgnoreACommaDecimalLocale) {
    QTemporaryDir locales;
    ASSERT_TRUE(locales.isValid());
    if (QProcess::execute("localedef",
                          {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")}) != 0) {
        GTEST_SKIP() << "localedef cannot build the de_DE locale here";
    }
    SimProcess sim(kFixedValues);
    for (const char* format : {"csv", "json"}) {
        SCOPED_TRACE(format);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LOCPATH", locales.path());
        environment.insert("LC_ALL", "de_DE.UTF-8");
        process.setProcessEnvironment(environment);
        startDarqRead(process, {"--port", sim.devicePath(), "--count", "2", "--interval", "100",
                                "--format", format});
        const ProgramRun run = finish(process);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(std::regex_search(run.err, std::regex(R"(median \d+\.\d  max \d+\.\d\n)")))
            << run.err;
        const QList<QByteArray> lines = QByteArray::fromStdString(run.out).trimmed().split('\n');
        ASSERT_EQ(lines.size(), std::string(format) == "csv" ? 3 : 2) << run.out;
        for (const QByteArray& row : lines) {
            if (std::string(format) == "csv") {
                EXPECT_EQ(row.count(','), 13) << row.toStdString();
            } else {
                QJsonParseError error;
                QJsonDocument::fromJson(row, &error);
                EXPECT_EQ(error.error, QJsonParseError::NoError) << row.toStdString();
            }
        }
    }
}

TEST(DarqRead, OutputThatCannotBeWrittenEndsTheRunWithStatus74) {
    SimProcess sim(kFixedValues);
    const QString read = QStringLiteral(DARQ_READ_PATH);
    const QString port = QString::fromStdString(sim.devicePath());
    const struct {
        const char* name;
        QString shellCommand;
        const char* reason; // in the message on stderr, where there is one
    } cases[] = {
        {"standard output full", "exec \"$0\" --port \"$1\" >/dev/full", "No space left"},
        {"standard output closed", "exec \"$0\" --port \"$1\" >&-", ""},
        {"trace to a full standard error", "exec \"$0\" --port \"$1\" --trace 2>/dev/full", ""},
        {"endless run to a full standard output",
         "exec \"$0\" --port \"$1\" --count 0 --interval 50 >/dev/full", "No space left"},
        // Stops at once, not after the sweep.
        {"scan to a full standard output",
         "exec \"$0\" --port \"$1\" --scan -b 9600 -a 20-60 -f csv >/dev/full",
         "No space left"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        QProcess process;
        process.start(QStringLiteral("/bin/sh"), {"-c", row.shellCommand, read, port});
        ASSERT_TRUE(process.waitForFinished(20000));
        const std::string err = process.readAllStandardError().toStdString();
        EXPECT_EQ(process.exitCode(), 74) << err;
        EXPECT_NE(err.find(row.reason), std::string::npos) << err;
    }
}

TEST(DarqRead, ARequestTheDeviceDoesNotTakeEndsTheRunWithStatusTwo) {
    InstrumentEnd line;
    line.jamToolOutput();
    const ProgramRun run = runDarqRead({"--port", line.devicePath().toStdString()});
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(line.devicePath().toStdString() + ": cannot send: "),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
}

// Runs darq-read on a line the test plays, turning the event loop meanwhile so that the line
// answers.
ProgramRun runOnLine(const std::vector<std::string>& arguments) {
    QProcess process;
    process.start(QStringLiteral(DARQ_READ_PATH), toQt(arguments));
    if (!darq::testing::waitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
        return finish(process);
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

TEST(DarqRead, NeverTakesAReplyFromAnotherAddressForThisOnesReading) {
    // One instrument at address 5 that answers every request, whatever address it asked for.
    InstrumentEnd line;
    line.onRequest(
        [&line](const Bytes&) { line.send(darq::encodeReply(5, {123456, 2, 0, 12345678, 3})); });
    const std::string device = line.devicePath().toStdString();

    const ProgramRun scan = runOnLine(
        {"--port", device, "--scan", "-a", "1-7", "-b", "9600", "-t", "500", "-f", "csv"});
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_TRUE(std::regex_match(scan.out, std::regex(R"(time,.*\n[^,]+,5,decoded,1234\.56,.*\n)")))
        << scan.out;
    EXPECT_NE(scan.err.find("Instrument found: address 5 at 9600 Bd."), std::string::npos);

    const ProgramRun read = runOnLine({"--port", device, "-a", "7", "-t", "500", "-f", "csv"});
    EXPECT_EQ(read.exitCode, 1) << read.err;
    EXPECT_TRUE(std::regex_search(read.out, std::regex(R"(,7,wrong-header,1234\.56,12345\.678,)")))
        << read.out;
}

TEST(DarqRead, SaysOnceWhenTheTotalWentBackAndFlagsThatRecord) {
    // A totalizer that counts, is reset, and counts on.
    const std::vector<std::int32_t> totals = {2000, 3000, 500, 600};
    const struct {
        const char* format;
        const char* flag; // regex of the field, its value captured
    } cases[] = {{"csv", R"(,(true|false)\n)"}, {"json", R"("total_back":(true|false)\}\n)"}};
    for (const auto& example : cases) {
        SCOPED_TRACE(example.format);
        InstrumentEnd line;
        std::size_t answered = 0;
        line.onRequest([&](const Bytes&) {
            const std::int32_t total = totals[std::min(answered++, totals.size() - 1)];
            line.send(darq::encodeReply(1, {1250, 2, 0, total, 3}));
        });
        const ProgramRun run = runOnLine({"--port", line.devicePath().toStdString(), "-t", "1000",
                                          "-c", "4", "-i", "50", "-f", example.format});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> flags;
        const std::regex flag(example.flag);
        for (auto found = std::sregex_iterator(run.out.begin(), run.out.end(), flag);
             found != std::sregex_iterator(); ++found) {
            flags.push_back((*found)[1]);
        }
        EXPECT_EQ(flags, (std::vector<std::string>{"false", "false", "true", "false"})) << run.out;
        const std::string told = "darq-read: address 1: the total went back from 3.000 to 0.500: "
                                 "the instrument was reset, or another instrument answered\n";
        EXPECT_NE(run.err.find(told), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("went back", run.err.find(told) + told.size()), std::string::npos)
            << run.err;
    }
}

TEST(DarqRead, TimesBeyondTheirBoundAreRefusedAndAScanEndsAtOnceOnASignal) {
    for (const char* huge : {"--timeout=2147483647", "--interval=99999999999"}) {
        SCOPED_TRACE(huge);
        const ProgramRun run = runDarqRead({"--port", "/dev/null", "--scan", huge});
        EXPECT_EQ(run.exitCode, 64) << run.err;
    }
    const ProgramRun bound = runDarqRead({"-p", "/dev/null", "--scan", "-t", "60001"});
    EXPECT_NE(bound.err.find("from 1 to 60000"), std::string::npos) << bound.err;

    SimProcess sim(withFaults({"--no-reply", "1"}));
    QProcess process;
    process.start(QStringLiteral(DARQ_READ_PATH),
                  toQt({"--port", sim.devicePath(), "--scan", "-t", "15000"}));
    ASSERT_TRUE(process.waitForStarted(5000));
    QTest::qWait(1500);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QElapsedTimer stopping;
    stopping.start();
    const ProgramRun run = finish(process);
    EXPECT_LT(stopping.elapsed(), 5000) << "the attempt under way ran out its 15 s";
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("The search was cancelled after"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Nothing came back at any rate"), std::string::npos) << run.err;
    EXPECT_FALSE(QFileInfo::exists(
        darq::testing::lockFileQtUses(QFileInfo(QString::fromStdString(sim.devicePath()))
                                          .canonicalFilePath())));
}

TEST(DarqRead, AReaderThatGoesAwayEndsTheRunWithThePortReleased) {
    SimProcess sim(kFixedValues);
    const QString device = QFileInfo(QString::fromStdString(sim.devicePath())).canonicalFilePath();
    QProcess process;
    process.start(QStringLiteral("/bin/bash"),
                  {"-c", "\"$0\" --port \"$1\" -c 0 -i 50 | head -1; exit ${PIPESTATUS[0]}",
                   QStringLiteral(DARQ_READ_PATH), device});
    const ProgramRun run = finish(process);
    EXPECT_EQ(run.exitCode, 74) << run.err;
    EXPECT_TRUE(
        std::regex_match(run.out, std::regex(kClock + "flow 1234\\.56  total 712345\\.678\n")))
        << run.out;
    EXPECT_NE(run.err.find("Broken pipe"), std::string::npos) << run.err;
    EXPECT_FALSE(QFileInfo::exists(darq::testing::lockFileQtUses(device)));
}

TEST(DarqRead, ReconnectKeepsTheCycleThroughALostPortAndReadsAgainWhenItIsBack) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::string link = directory.filePath("com1").toStdString();
    std::vector<std::string> instrument = kFixedValues;
    instrument.insert(instrument.end(), {"--link", link});
    auto sim = std::make_unique<SimProcess>(instrument);
    const QString firstDevice = QString::fromStdString(sim->devicePath());

    QProcess process;
    startDarqRead(process,
                  {"--port", link, "--count", "0", "--interval", "200", "--reconnect", "-f", "csv"});
    QByteArray out;
    for (int wait = 0; wait < 100 && !out.contains(",decoded,"); ++wait) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    sim->kill();
    sim.reset();
    // Away: the lock file of the device goes with the port, so that another program could have it
    // (and another test may have the pseudo-terminal's number by now).
    QTest::qWait(1500);
    QFile lock(darq::testing::lockFileQtUses(firstDevice));
    if (lock.open(QIODevice::ReadOnly)) {
        EXPECT_NE(lock.readLine().trimmed().toLongLong(), process.processId());
    }
    sim = std::make_unique<SimProcess>(instrument);
    // Decoded rows, port-lost rows at the reading cadence meanwhile, then decoded rows again.
    const std::regex readAgain(",decoded,[^\\n]*\\n(\\S+,1,port-lost,,,0,,,9600,false,,," + link +
                               ",false\\n)+\\S+,1,decoded,");
    for (int wait = 0; wait < 100 && !std::regex_search(out.toStdString(), readAgain); ++wait) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    const ProgramRun run = finish(process);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::regex_search(out.toStdString(), readAgain)) << out.toStdString();
    // One line when the port is lost and one when it is back, not one per retry.
    const std::regex lost("port lost while open.*reopening it until it is back\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(run.err.begin(), run.err.end(), lost),
                            std::sregex_iterator()),
              1)
        << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(link + ": back after \\d+\\.\\d s\n")))
        << run.err;
}

TEST(ReadingRecordJson, FlowAndTotalAreNumbersWithTheInstrumentsOwnDecimals) {
    darq::ReadingRecord record;
    record.address = 1;
    record.device = "/dev/ttyUSB0";
    const std::int32_t values[] = {0, 1, -1, 5, -5, 1250, -98765, INT32_MAX, INT32_MIN};
    for (const std::uint16_t high : {0, 7, 65535}) {
        for (const std::int32_t value : values) {
            for (int decimals = 0; decimals <= 255; decimals += 1 + decimals / 8) {
                const darq::Reading reading{value, std::uint8_t(decimals), high, value,
                                            std::uint8_t(decimals)};
                record.outcome = darq::judgeReply({}, darq::encodeReply(1, reading));
                const QByteArray line = QByteArray::fromStdString(darq::jsonObject(record));
                QJsonParseError error;
                const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
                ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
                ASSERT_TRUE(object.value("flow").isDouble() && object.value("total").isDouble())
                    << line.toStdString();
            }
        }
    }
    record.outcome = darq::judgeReply({}, darq::encodeReply(1, {1250, 2, 0, 50, 2}));
    EXPECT_NE(darq::jsonObject(record).find("\"flow\":12.50,\"total\":0.50,"), std::string::npos);
}

// A free loopback port: bound, noted and let go.
quint16 freeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TEST(DarqReadOverTcp, ReadsAnAddressListAndScansThroughADeviceServer) {
    std::vector<std::string> instrument = withFaults({"--address", "1,5"});
    instrument.insert(instrument.end(), {"--listen", "127.0.0.1:0"});
    SimProcess server(instrument);
    ASSERT_EQ(server.devicePath().rfind("tcp://127.0.0.1:", 0), 0u) << server.devicePath();

    const ProgramRun list = runDarqRead({"--port", server.devicePath(), "-a", "1,5", "-f", "csv"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_TRUE(std::regex_match(
        list.out, std::regex("time,.*\n(\\S+,[15],decoded,1234\\.56,712345\\.678,17,ok,\\d+\\.\\d,"
                             "9600,false,,true," +
                             server.devicePath() + ",false\n){2}")))
        << list.out;

    QProcess scan;
    scan.start(QStringLiteral(DARQ_READ_PATH),
               toQt({"--port", server.devicePath(), "--scan", "-a", "3-6", "-b", "9600"}));
    const ProgramRun found = finish(scan);
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.err.find("Instrument found: address 5 at 9600 Bd."), std::string::npos)
        << found.err;
}

TEST(DarqReadOverTcp, AServerThatRefusesStaysSilentOrHangsUpIsToldNotWaitedFor) {
    const quint16 closedPort = freeLoopbackPort();
    const std::string refusedDevice = "tcp://127.0.0.1:" + std::to_string(closedPort);
    const ProgramRun refused = runDarqRead({"--port", refusedDevice});
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_NE(refused.err.find(refusedDevice + ": cannot connect: "), std::string::npos)
        << refused.err;

    // A server that takes the connection and the request: silent, or hanging up mid-reply.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    bool hangUpMidReply = false;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* client = server.nextPendingConnection();
        QObject::connect(client, &QTcpSocket::readyRead, client, [&hangUpMidReply, client] {
            client->readAll();
            if (hangUpMidReply) {
                client->write(QByteArray("\x01\x03\x0C\x00", 4));
                client->flush();
                client->disconnectFromHost();
            }
        });
    });
    const std::string device = "tcp://127.0.0.1:" + std::to_string(server.serverPort());
    const ProgramRun silent = runOnLine({"--port", device, "-t", "300"});
    EXPECT_EQ(silent.exitCode, 1) << silent.err;
    EXPECT_TRUE(std::regex_search(silent.out, std::regex("^\\S+  no data\n"))) << silent.out;

    hangUpMidReply = true;
    const ProgramRun dropped = runOnLine({"--port", device, "-t", "300"});
    EXPECT_EQ(dropped.exitCode, 2) << dropped.err;
    EXPECT_NE(dropped.err.find(device + ": port lost while open"), std::string::npos)
        << dropped.err;
}

TEST(DarqReadOverTcp, ReconnectReadsAgainOnceTheServerIsBack) {
    const std::string address = "127.0.0.1:" + std::to_string(freeLoopbackPort());
    std::vector<std::string> instrument = kFixedValues;
    instrument.insert(instrument.end(), {"--listen", address});
    auto server = std::make_unique<SimProcess>(instrument);
    QProcess process;
    startDarqRead(process, {"--port", "tcp://" + address, "--count", "0", "--interval", "200",
                            "--reconnect", "-f", "csv"});
    QByteArray out;
    const auto readUntil = [&](const std::regex& wanted) {
        for (int wait = 0; wait < 150 && !std::regex_search(out.toStdString(), wanted); ++wait) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        return std::regex_search(out.toStdString(), wanted);
    };
    ASSERT_TRUE(readUntil(std::regex(",decoded,"))) << out.toStdString();
    server.reset();
    ASSERT_TRUE(readUntil(std::regex(",port-lost,"))) << out.toStdString();
    server = std::make_unique<SimProcess>(instrument);
    EXPECT_TRUE(readUntil(std::regex(",port-lost,[^\\n]*\\n(\\S+,1,port-lost,[^\\n]*\\n)*\\S+,1,decoded,")))
        << out.toStdString();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_EQ(finish(process).exitCode, 0);
}

} // namespace
