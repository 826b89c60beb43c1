// Five hundred reads from a virtual instrument that fails in every way it can, through the
// exchange engine and through darq-read: each reading must be what the bytes on the line make
// it, and every clean reply must show exactly the values the instrument sent.

#include "instrument_end.h"
#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "serial/comm_control.h"
#include "serial/exchange_engine.h"
#include "sim_answers.h"
#include "sim_process.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>

namespace darq {
namespace {

using testing::bytesFromHex;
using testing::readSimTranscript;
using testing::ScopedComPort;
using testing::SimAnswer;
using testing::SimProcess;
using testing::SimTranscript;
using Kind = ReadOutcome::Kind;

constexpr int kReads = 500;
// 500 reads take about 50 s through the window's 100 ms settle time; far more means a hang.
constexpr int kRunDeadlineMs = 180000;

// Every fault at 20 %, drawn independently for each request; the seed makes each run the same.
// Without pacing the instrument answers at once, so its reply is in long before the settle time.
std::vector<std::string> simArguments() {
    std::vector<std::string> arguments = {"--seed", "6061", "--no-pacing"};
    for (const char* fault :
         {"--no-reply", "--short-reply", "--extra-bytes", "--bad-crc", "--noise", "--echo"}) {
        arguments.insert(arguments.end(), {fault, "0.2"});
    }
    arguments.insert(arguments.end(), {"--flow", "-98765", "--flow-decimals", "3", "--total-high",
                                       "42", "--total-low", "1234567", "--total-decimals", "2"});
    return arguments;
}

// The reply that carries those values, worked out by hand: flow 0xFFFE7E33 with 3 decimals,
// total 0x002A and 0x0012D687 with 2 decimals, then CRC-16/MODBUS, low byte first.
const Bytes kCleanReply = bytesFromHex("01 03 0C FF FE 7E 33 03 00 2A 00 12 D6 87 02 91 CF");
constexpr std::size_t kCheckedLength = 15;
const std::string kFlowText = "-98.765";
const std::string kTotalText = "4212345.67";

const char* const kFaultKinds[] = {"no-reply", "short-reply", "extra-bytes",
                                   "bad-crc",  "noise",       "echo"};

// One reading as the reader under test reported it.
struct Observed {
    Kind kind = Kind::NoData;
    Bytes received;
    bool checkValueOk = false;
    std::string flowText;
    std::string totalText;
};

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::NoData:
        return "no data";
    case Kind::Decoded:
        return "decoded";
    case Kind::Ignored:
        return "ignored";
    }
    return "?";
}

std::string hexText(const Bytes& bytes) {
    return bytes.empty() ? "(nothing)" : testing::hex(bytes).toStdString();
}

bool echoed(const SimAnswer& answer) {
    return std::find(answer.faults.begin(), answer.faults.end(), "echo") != answer.faults.end();
}

// What the instrument sent behind the echo of the request, if any.
Bytes replyPart(const SimAnswer& answer) {
    const std::size_t echo = echoed(answer) ? kRequestLength : 0;
    return Bytes(answer.sent.begin() + static_cast<std::ptrdiff_t>(echo), answer.sent.end());
}

std::string faultList(const SimAnswer& answer) {
    std::string list;
    for (const std::string& fault : answer.faults) {
        list += (list.empty() ? "" : ", ") + fault;
    }
    return list.empty() ? "none" : list;
}

// What the bytes on the line make a reading: our own request echoed in front is not part of the
// reply; then nothing is no data, exactly 17 bytes are decoded whatever they hold, any other
// count is ignored. The check value is right only when the reply arrived untouched: a bad-crc or
// noise fault spoils it, and so can combinations that happen to add up to 17 bytes (a short reply
// with extra bytes).
std::vector<std::string> misreadings(const std::vector<SimAnswer>& answers,
                                     const std::vector<Observed>& readings) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < answers.size() && i < readings.size(); ++i) {
        const Bytes& sent = answers[i].sent;
        const Observed& reading = readings[i];
        const Bytes reply = replyPart(answers[i]);
        const Kind expected = reply.empty()                  ? Kind::NoData
                              : reply.size() == kReplyLength ? Kind::Decoded
                                                             : Kind::Ignored;
        std::vector<std::string> wrong;
        if (reading.kind != expected) {
            wrong.push_back(std::string(kindName(reading.kind)) + " where " + kindName(expected) +
                            " was due");
        }
        if (reading.received != sent) {
            wrong.push_back("received " + hexText(reading.received));
        }
        if (answers[i].faults.empty() && sent != kCleanReply) {
            wrong.push_back("the instrument sent a fault-free reply other than the clean one");
        }
        if (expected == Kind::Decoded && reading.kind == Kind::Decoded) {
            const bool untouched = reply == kCleanReply;
            if (reading.checkValueOk != untouched) {
                wrong.push_back(std::string("check value reported ") +
                                (reading.checkValueOk ? "right" : "wrong"));
            }
            const bool dataUntouched =
                std::equal(reply.begin(), reply.begin() + kCheckedLength, kCleanReply.begin());
            if (dataUntouched &&
                (reading.flowText != kFlowText || reading.totalText != kTotalText)) {
                wrong.push_back("shown as flow " + reading.flowText + ", total " +
                                reading.totalText);
            }
        }
        if (!wrong.empty()) {
            std::string line = "read " + std::to_string(i + 1) + ": sent " + hexText(sent) +
                               " (faults: " + faultList(answers[i]) + ")";
            for (const std::string& what : wrong) {
                line += "; " + what;
            }
            found.push_back(line);
        }
    }
    return found;
}

struct Tally {
    std::map<std::string, int> faults;
    int faultFree = 0;
    int decoded = 0;
    int badCheckValue = 0;
    int noData = 0;
    int ignored = 0;

    std::string text() const {
        std::ostringstream out;
        out << "faults applied:";
        for (const char* kind : kFaultKinds) {
            out << ' ' << kind << ' ' << (faults.count(kind) ? faults.at(kind) : 0);
        }
        out << "; fault-free replies " << faultFree << "; outcomes: decoded " << decoded
            << " (bad CRC " << badCheckValue << "), no data " << noData << ", ignored " << ignored;
        return out.str();
    }
};

Tally tally(const std::vector<SimAnswer>& answers, const std::vector<Observed>& readings) {
    Tally counts;
    for (const SimAnswer& answer : answers) {
        for (const std::string& fault : answer.faults) {
            ++counts.faults[fault];
        }
        counts.faultFree += answer.faults.empty() ? 1 : 0;
    }
    for (const Observed& reading : readings) {
        switch (reading.kind) {
        case Kind::Decoded:
            ++counts.decoded;
            counts.badCheckValue += reading.checkValueOk ? 0 : 1;
            break;
        case Kind::NoData:
            ++counts.noData;
            break;
        case Kind::Ignored:
            ++counts.ignored;
            break;
        }
    }
    return counts;
}

std::string firstLines(const std::vector<std::string>& lines, std::size_t most = 20) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < most; ++i) {
        text += lines[i] + "\n";
    }
    if (lines.size() > most) {
        text += "... and " + std::to_string(lines.size() - most) + " more\n";
    }
    return text;
}

// The checks both readers must pass. Returns the tally for the caller's own cross-checks.
Tally expectEveryReadingAsSent(const std::string& reader, const SimTranscript& transcript,
                               const std::vector<Observed>& readings) {
    // Requests and replies pair up in order only if every request was one frame and answered.
    EXPECT_EQ(transcript.requests, kReads);
    EXPECT_EQ(transcript.unanswered, 0);
    EXPECT_EQ(transcript.answers.size(), readings.size());

    const std::vector<std::string> wrong = misreadings(transcript.answers, readings);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " readings are not what the line carried:\n"
                               << firstLines(wrong);

    const Tally counts = tally(transcript.answers, readings);
    std::cout << reader << ": " << counts.text() << std::endl;
    // A run in which some fault never happened would prove nothing about it.
    for (const char* kind : kFaultKinds) {
        EXPECT_GT(counts.faults.count(kind), 0u) << kind << " never occurred";
    }
    EXPECT_GT(counts.faultFree, 0);
    EXPECT_EQ(counts.decoded + counts.noData + counts.ignored, kReads);
    return counts;
}

TEST(FaultRun, ExchangeEngineTakesEveryReplyAsItsBytesMakeIt) {
    SimProcess sim(simArguments());
    ScopedComPort com1(1, QString::fromStdString(sim.devicePath()));
    CommControl port;
    ASSERT_TRUE(port.setPortOpen(true)) << port.lastError().message().toStdString();
    ExchangeEngine engine(port);

    // Back to back, as automatic reading does, with the window's settle time: the next read
    // starts when one finishes.
    std::vector<ReadingRecord> reports;
    std::string stoppedBecause;
    QEventLoop loop;
    ExchangeOrder read;
    read.address = 1;
    QObject::connect(&engine, &ExchangeEngine::finished, &loop, [&](const ReadingRecord& report) {
        reports.push_back(report);
        if (report.status != ReadingRecord::Status::Completed) {
            stoppedBecause = "an exchange ended without taking the reply";
        } else if (reports.size() < static_cast<std::size_t>(kReads) &&
                   engine.submit(&loop, read) != ReadStart::Accepted) {
            stoppedBecause = "the next read did not start";
        }
        if (!stoppedBecause.empty() || reports.size() == kReads) {
            loop.quit();
        }
    });
    ASSERT_EQ(engine.submit(&loop, read), ReadStart::Accepted);
    QTimer::singleShot(kRunDeadlineMs, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(reports.size(), static_cast<std::size_t>(kReads))
        << (stoppedBecause.empty() ? "the run did not finish in time" : stoppedBecause);
    EXPECT_TRUE(port.PortOpen());

    std::vector<Observed> readings;
    for (const ReadingRecord& report : reports) {
        const ReadOutcome& outcome = report.outcome;
        readings.push_back({outcome.kind, outcome.received, outcome.checkValueOk, outcome.flowText,
                            outcome.totalText});
    }
    expectEveryReadingAsSent("exchange engine", readSimTranscript(sim.log()), readings);
}

// darq-read's JSON lines say what each reading was; its trace on stderr shows the bytes.
struct DarqReadRun {
    std::vector<Observed> readings;
    std::vector<std::string> malformed;
    std::string summary;
};

DarqReadRun readDarqReadOutput(const QByteArray& out, const QByteArray& err) {
    DarqReadRun run;
    std::vector<Bytes> received;
    static const std::regex traceOfReply(R"(^\S+ < (.+)$)");
    static const std::regex traceOfRequest(R"(^\S+ > 01 03 01 03 00 03 F4 37$)");
    std::istringstream errLines(err.toStdString());
    std::string line;
    std::smatch match;
    while (std::getline(errLines, line)) {
        if (std::regex_match(line, match, traceOfReply)) {
            received.push_back(bytesFromHex(match[1].str()));
        } else if (line.rfind("summary: ", 0) == 0) {
            run.summary = line;
        } else if (!std::regex_match(line, traceOfRequest)) {
            // Nothing else belongs there: no warning, no sanitizer report.
            run.malformed.push_back("on stderr: " + line);
        }
    }

    const QList<QByteArray> lines = out.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) {
            continue;
        }
        const QJsonObject object = QJsonDocument::fromJson(lines[i]).object();
        const QString outcome = object.value("outcome").toString();
        Observed reading;
        // A 17-byte reply keeps its values whatever the verdict on it.
        const bool whole =
            outcome == "decoded" || outcome == "bad-check" || outcome == "wrong-header";
        reading.kind = whole ? Kind::Decoded : outcome == "ignored" ? Kind::Ignored : Kind::NoData;
        const std::size_t index = run.readings.size();
        reading.received = index < received.size() ? received[index] : Bytes{};
        reading.checkValueOk = object.value("crc_ok").toBool();
        // The numbers as written, with the instrument's own decimals.
        static const std::regex numbers(R"("flow":([^,]+),"total":([^,]+),)");
        std::smatch written;
        const std::string text = lines[i].toStdString();
        if (std::regex_search(text, written, numbers) && written[1] != "null") {
            reading.flowText = written[1];
            reading.totalText = written[2];
        }
        const bool decoded = reading.kind == Kind::Decoded;
        const bool echo = object.value("echo").toBool();
        const int replyBytes =
            static_cast<int>(reading.received.size()) - (echo ? int(kRequestLength) : 0);
        const bool consistent =
            (whole || outcome == "ignored" || outcome == "no-data") &&
            (outcome == "bad-check") == (decoded && !object.value("crc_ok").toBool()) &&
            object.value("bytes").toInt(-1) == replyBytes && object.value("echo").isBool() &&
            object.value("crc_ok").isBool() == decoded &&
            object.value("flow").isDouble() == decoded;
        if (!consistent) {
            run.malformed.push_back("line " + std::to_string(index + 1) + ": " +
                                    lines[i].toStdString());
        }
        run.readings.push_back(reading);
    }
    if (received.size() != run.readings.size()) {
        run.malformed.push_back(std::to_string(received.size()) + " replies traced for " +
                                std::to_string(run.readings.size()) + " readings");
    }
    return run;
}

TEST(FaultRun, DarqReadTakesEveryReplyAsItsBytesMakeIt) {
    SimProcess sim(simArguments());
    QProcess reader;
    reader.start(QStringLiteral(DARQ_READ_PATH),
                 {"--port", QString::fromStdString(sim.devicePath()), "--count",
                  QString::number(kReads), "--interval", "0", "--format", "json", "--trace"});
    ASSERT_TRUE(reader.waitForStarted(5000));
    const bool ended = reader.waitForFinished(kRunDeadlineMs);
    if (!ended) {
        reader.kill();
        reader.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "darq-read did not finish " << kReads << " reads in time";
    ASSERT_EQ(reader.exitStatus(), QProcess::NormalExit) << "darq-read crashed";
    // Some readings gave no data or were ignored.
    EXPECT_EQ(reader.exitCode(), 1);

    const DarqReadRun run =
        readDarqReadOutput(reader.readAllStandardOutput(), reader.readAllStandardError());
    EXPECT_TRUE(run.malformed.empty()) << firstLines(run.malformed);
    ASSERT_EQ(run.readings.size(), static_cast<std::size_t>(kReads));
    const Tally counts =
        expectEveryReadingAsSent("darq-read", readSimTranscript(sim.log()), run.readings);

    const std::string summary =
        "summary: reads " + std::to_string(kReads) + "  decoded " +
        std::to_string(counts.decoded - counts.badCheckValue) +
        "  no data " + std::to_string(counts.noData) + "  ignored " +
        std::to_string(counts.ignored) + "  bad CRC " + std::to_string(counts.badCheckValue) + "  ";
    EXPECT_EQ(run.summary.rfind(summary, 0), 0u) << run.summary;
}

} // namespace
} // namespace darq
