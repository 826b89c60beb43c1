#include "figures.h"

#include "common/child_process.h"
#include "common/loopback_port.h"
#include "darq_read_run.h"
#include "gateway/gateway.h"
#include "process_footprint.h"
#include "simulator.h"
#include "statistics.h"

#include <QTemporaryDir>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mosquitto.h>
#include <mutex>
#include <pwd.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace darq::bench {

namespace {

using SystemClock = std::chrono::system_clock;
using Ms = std::chrono::milliseconds;

constexpr const char* kTopic = "bench/line1";
constexpr int kLatencyReadings = 100;
constexpr int kLatencyIntervalMs = 50;
constexpr double kLatencyTargetMs = 5.0;
constexpr int kCpuReadings = 500;
constexpr double kCpuTargetMs = 0.2;
constexpr int kSpoolRecords = 10000;
constexpr double kResendTarget = 2000;
constexpr int kMemoryReadings = 100000;
constexpr int kMemoryFirstLook = 10000;
constexpr double kMemoryGrowthTargetKiB = 1024;
constexpr double kDayMs = 24 * 3600 * 1000.0;

// A mosquitto on a loopback port of its own, with nothing kept between runs.
class Broker {
public:
    Broker() : port_(freeLoopbackPort()) {
        if (!folder_.isValid()) {
            throw std::runtime_error("no temporary folder for the broker");
        }
        // Started by root it would become the user mosquitto, who cannot read the folder.
        std::ofstream(config()) << "allow_anonymous true\nuser " << ::getpwuid(::geteuid())->pw_name
                                << "\npersistence false\nlog_dest none\nmax_queued_messages 0\n"
                                << "listener " << port_ << " 127.0.0.1\n";
    }

    void start() {
        process_.emplace("/usr/sbin/mosquitto", std::vector<std::string>{"-c", config()});
        for (int attempt = 0; attempt < 500 && !loopbackPortAnswers(port_); ++attempt) {
            std::this_thread::sleep_for(Ms(20));
        }
        if (!loopbackPortAnswers(port_)) {
            throw std::runtime_error("mosquitto does not answer on port " + std::to_string(port_));
        }
    }

    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }

private:
    std::string config() const { return folder_.filePath("mosquitto.conf").toStdString(); }

    QTemporaryDir folder_;
    int port_;
    std::optional<ChildProcess> process_;
};

// Every record published under the bench's topic, with the moment it arrived here.
class Subscriber {
public:
    struct Arrival {
        std::string payload;
        SystemClock::time_point at;
    };

    explicit Subscriber(int port) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            auto* subscriber = static_cast<Subscriber*>(self);
            const std::lock_guard<std::mutex> lock(subscriber->mutex_);
            subscriber->subscribed_ = true;
            subscriber->changed_.notify_all();
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* message) {
                const auto at = SystemClock::now();
                auto* subscriber = static_cast<Subscriber*>(self);
                const std::lock_guard<std::mutex> lock(subscriber->mutex_);
                subscriber->arrivals_.push_back(
                    {std::string(static_cast<const char*>(message->payload),
                                 static_cast<std::size_t>(message->payloadlen)),
                     at});
                subscriber->changed_.notify_all();
            });
        const std::string topic = std::string(kTopic) + "/+/reading";
        if (mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
            mosquitto_subscribe(client_, nullptr, topic.c_str(), 1) != MOSQ_ERR_SUCCESS ||
            mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
            throw std::runtime_error("the bench's subscriber cannot reach the broker");
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [this] { return subscribed_; })) {
            throw std::runtime_error("the broker did not take the bench's subscription");
        }
    }

    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
        mosquitto_lib_cleanup();
    }

    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Waits until `count` records are in; the records in either case.
    std::vector<Arrival> waitFor(std::size_t count, Ms timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return arrivals_.size() >= count; });
        return arrivals_;
    }

private:
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    std::vector<Arrival> arrivals_;
};

// Milliseconds into the UTC day, as darq-read's trace stamps its lines.
double msIntoDay(SystemClock::time_point at) {
    const auto sinceEpoch = std::chrono::duration<double, std::milli>(at.time_since_epoch());
    return std::fmod(sinceEpoch.count(), kDayMs);
}

// The record's "time" plus its "latency_ms": when the reply's last byte came, to the
// millisecond of "time"; none for a record without a latency.
std::optional<SystemClock::time_point> replyEnd(const std::string& payload) {
    const std::size_t time = payload.find("\"time\":\"");
    const std::size_t latency = payload.find("\"latency_ms\":");
    std::tm fields{};
    int millisecond = 0;
    double latencyMs = 0;
    if (time == std::string::npos || latency == std::string::npos ||
        std::sscanf(payload.c_str() + time + 8, "%d-%d-%dT%d:%d:%d.%dZ", &fields.tm_year,
                    &fields.tm_mon, &fields.tm_mday, &fields.tm_hour, &fields.tm_min,
                    &fields.tm_sec, &millisecond) != 7 ||
        std::sscanf(payload.c_str() + latency + 13, "%lf", &latencyMs) != 1) {
        return std::nullopt;
    }
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    const auto sent = SystemClock::from_time_t(::timegm(&fields)) + Ms(millisecond);
    return sent + std::chrono::duration_cast<SystemClock::duration>(
                      std::chrono::duration<double, std::milli>(latencyMs));
}

double spanMs(SystemClock::time_point from, SystemClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string spoolPath(const QTemporaryDir& folder) {
    return folder.filePath("spool").toStdString();
}

} // namespace

void addGatewayLatency(RunRows& rows, const Progress& progress) {
    Simulator simulator(pacedSimulatorArguments());
    Broker broker;
    broker.start();
    Subscriber subscriber(broker.port());
    const std::string readings = std::to_string(kLatencyReadings);
    progress.say("darq-read --mqtt, " + readings + " readings every " +
                 std::to_string(kLatencyIntervalMs) + " ms to a loopback broker");
    const DarqReadRun run =
        runDarqRead({"--port", simulator.device(), "--count", readings, "--interval",
                     std::to_string(kLatencyIntervalMs), "--format", "csv", "--trace", "--mqtt",
                     broker.url(), "--mqtt-topic", kTopic},
                    kLatencyReadings * 1000 + 10000);
    const auto arrivals = subscriber.waitFor(kLatencyReadings, Ms(10000));
    const bool sound = run.problem.empty() && arrivals.size() == std::size_t(kLatencyReadings) &&
                       run.traced.size() == arrivals.size();
    std::vector<double> fromTaken;
    std::vector<double> fromReplyEnd;
    for (std::size_t index = 0; sound && index < arrivals.size(); ++index) {
        double span = msIntoDay(arrivals[index].at) - run.traced[index].takenMs;
        if (span < -kDayMs / 2) {
            span += kDayMs; // across midnight
        }
        fromTaken.push_back(span);
        if (const auto end = replyEnd(arrivals[index].payload)) {
            fromReplyEnd.push_back(spanMs(*end, arrivals[index].at));
        }
    }
    const std::string figure = "Gateway: record taken to subscriber, " + readings + " readings";
    const std::string note = run.problem.empty()
                                 ? fraction(int(arrivals.size()), kLatencyReadings) + " arrived"
                                 : run.problem;
    rows.add(figure, "9600", "p50", ifAny(fromTaken, median), Unit::Milliseconds)
        .judge(Target::atMost(kLatencyTargetMs), sound)
        .withNote(note);
    rows.add(figure, "9600", "p95", ifAny(fromTaken, p95), Unit::Milliseconds)
        .judge(Target::atMost(kLatencyTargetMs), sound);
    const std::string sameRecords = "  same, reply's last byte to subscriber";
    rows.add(sameRecords, "9600", "p50", ifAny(fromReplyEnd, median), Unit::Milliseconds)
        .withNote("the quiet gap that ends a reply is in this");
    rows.add(sameRecords, "9600", "p95", ifAny(fromReplyEnd, p95), Unit::Milliseconds);
}

void addGatewayCpu(RunRows& rows, const Progress& progress) {
    Simulator simulator({"--no-pacing", "--turnaround", "0"});
    Broker broker;
    broker.start();
    QTemporaryDir folder;
    const std::string readings = std::to_string(kCpuReadings);
    progress.say("darq-read CPU, " + readings +
                 " readings without pacing, without and with --mqtt, twice");
    const std::vector<std::string> plain = {
        "--port", simulator.device(), "--count", readings,   "--interval",
        "0",      "--timeout",        "100",     "--format", "csv"};
    std::vector<std::string> published = plain;
    published.insert(published.end(), {"--mqtt", broker.url(), "--mqtt-topic", kTopic, "--spool",
                                       spoolPath(folder)});
    // The lower of two runs each: what else the machine does only ever adds.
    std::optional<double> cpuMs[2];
    std::string problem;
    for (int round = 0; round < 2; ++round) {
        for (const bool mqtt : {false, true}) {
            const DarqReadRun run = runDarqRead(mqtt ? published : plain, kCpuReadings * 200);
            const int decoded = CsvOutput(run.output).countWhere("outcome", "decoded");
            if (!run.problem.empty() || decoded != kCpuReadings) {
                problem = run.problem.empty() ? fraction(decoded, kCpuReadings) + " decoded"
                                              : run.problem;
                continue;
            }
            const double perReading = run.cpuMs / kCpuReadings;
            cpuMs[mqtt] = cpuMs[mqtt] ? std::min(*cpuMs[mqtt], perReading) : perReading;
        }
    }
    const std::string figure = "darq-read CPU (user+sys), " + readings + " reads, no pacing";
    rows.add(figure, "9600", "without --mqtt", cpuMs[0], Unit::CpuMilliseconds).withNote(problem);
    rows.add(figure, "9600", "with --mqtt and --spool", cpuMs[1], Unit::CpuMilliseconds);
    rows.add(figure, "9600", "--mqtt above without",
             cpuMs[0] && cpuMs[1] ? std::optional<double>(*cpuMs[1] - *cpuMs[0]) : std::nullopt,
             Unit::CpuMilliseconds)
        .judge(Target::atMost(kCpuTargetMs), problem.empty());
}

void addSpoolResend(RunRows& rows, const Progress& progress) {
    QTemporaryDir folder;
    Broker broker;
    progress.say("a spool of " + std::to_string(kSpoolRecords) +
                 " records made with the broker away, then sent by darq-read");
    {
        GatewaySettings settings;
        settings.broker.host = "127.0.0.1";
        settings.broker.port = broker.port(); // nobody listens yet
        settings.topicPrefix = kTopic;
        settings.spoolPath = spoolPath(folder);
        Gateway gateway(settings, [](const std::string&) {});
        if (const std::string error = gateway.start(); !error.empty()) {
            throw std::runtime_error(error);
        }
        for (int record = 0; record < kSpoolRecords; ++record) {
            gateway.publish(1, "{\"time\":\"2026-12-09T08:30:00.125Z\",\"address\":1,\"baud\":9600,"
                               "\"outcome\":\"decoded\",\"flow\":12.50,\"total\":" +
                                   std::to_string(record) +
                                   ".000,\"bytes\":17,\"crc_ok\":true,\"latency_ms\":33.9,"
                                   "\"echo\":false,\"exception\":null,\"header_ok\":true,"
                                   "\"device\":\"/dev/ttyUSB0\"}\n");
        }
        gateway.stop();
    }
    broker.start();
    Subscriber subscriber(broker.port());
    Simulator simulator(pacedSimulatorArguments());
    const auto spawned = SystemClock::now();
    ChildProcess reader(DARQ_READ_PATH, {"--port", simulator.device(), "--count", "0", "--interval",
                                         "1000", "--quiet", "--mqtt", broker.url(), "--mqtt-topic",
                                         kTopic, "--spool", spoolPath(folder)});
    const auto arrivals = subscriber.waitFor(kSpoolRecords, Ms(60000));
    reader.stop();
    const bool sound = arrivals.size() >= std::size_t(kSpoolRecords);
    const std::optional<double> rate =
        sound ? std::optional<double>(kSpoolRecords /
                                      (spanMs(spawned, arrivals[kSpoolRecords - 1].at) / 1000))
              : std::nullopt;
    rows.add("Spool of " + std::to_string(kSpoolRecords) + " records sent on start", "",
             "records/s", rate, Unit::PerSecond)
        .judge(Target::atLeast(kResendTarget), sound)
        .withNote(sound ? "darq-read spawned to the last one in"
                        : std::to_string(arrivals.size()) + " arrived");
}

void addGatewayMemory(RunRows& rows, const Progress& progress) {
    // The instrument answers at address 1 and is read at 2: each reading is a no-data record
    // after a 1 ms wait, as many records as the line could ever give, each a full record.
    Simulator simulator({"--no-pacing", "--turnaround", "0"});
    for (const bool brokerUp : {true, false}) {
        QTemporaryDir folder;
        Broker broker;
        if (brokerUp) {
            broker.start();
        }
        const std::string state = brokerUp ? "broker up" : "broker away";
        progress.say("darq-read --mqtt --spool, " + std::to_string(kMemoryReadings) +
                     " readings without pacing, " + state + " (~2 min)");
        ChildProcess reader(DARQ_READ_PATH,
                            {"--port", simulator.device(), "--address", "2", "--count",
                             std::to_string(kMemoryReadings), "--interval", "0", "--timeout", "1",
                             "--format", "csv", "--no-header", "--mqtt", broker.url(),
                             "--mqtt-topic", kTopic, "--spool", spoolPath(folder)});
        long firstKiB = 0;
        long lastKiB = 0;
        int lines = 0;
        while (lines < kMemoryReadings && reader.readLine(10000)) {
            if (++lines == kMemoryFirstLook) {
                firstKiB = residentKiB(reader.pid());
            }
            lastKiB = residentKiB(reader.pid());
        }
        reader.stop();
        const bool sound = lines == kMemoryReadings && firstKiB > 0;
        const std::string figure = "darq-read --mqtt --spool RSS, " + state;
        rows.add(figure, "", "after " + std::to_string(kMemoryFirstLook) + " readings",
                 sound ? std::optional<double>(firstKiB / 1024.0) : std::nullopt, Unit::MiB)
            .withNote(sound ? "" : std::to_string(lines) + " readings");
        rows.add(figure, "", "growth to " + std::to_string(kMemoryReadings),
                 sound ? std::optional<double>(double(lastKiB - firstKiB)) : std::nullopt,
                 Unit::KiB)
            .judge(Target::atMost(kMemoryGrowthTargetKiB), sound);
    }
}

} // namespace darq::bench
