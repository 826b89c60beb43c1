#include "gateway/gateway.h"

#include "gateway/spool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mosquitto.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace darq {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Records handed to the network thread and not yet acknowledged: enough to keep a loopback
// broker busy, small enough to cost nothing in memory.
constexpr std::size_t kWindow = 256;
constexpr auto kSyncInterval = seconds(1);
constexpr auto kFirstRetry = milliseconds(500);
constexpr auto kLongestRetry = seconds(10);
// A TCP connect to a host that drops the packets would otherwise wait for minutes.
constexpr auto kConnectTimeout = seconds(10);
// At the stop, how long a connected broker gets to acknowledge what waits, and the goodbye.
constexpr auto kStopGrace = seconds(3);
constexpr auto kGoodbyeGrace = seconds(1);
// A trouble that lasts is told again at most this often.
constexpr auto kReportInterval = seconds(60);
constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;

std::string secondsText(Clock::duration duration) {
    return std::to_string(std::chrono::duration_cast<seconds>(duration).count()) + " s";
}

} // namespace

class Gateway::Impl {
public:
    Impl(GatewaySettings settings, Report report)
        : settings_(std::move(settings)), report_(std::move(report)) {}

    ~Impl() { stop(); }

    std::string start() {
        if (settings_.spoolPath) {
            Spool::Opened opened = Spool::openFile(*settings_.spoolPath, settings_.spoolMax);
            if (!opened.error.empty()) {
                return opened.error;
            }
            spool_ = std::move(opened.spool);
        } else {
            spool_ = Spool::inMemory(settings_.spoolMax);
        }
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) {
            return std::string("cannot start the MQTT gateway: ") + std::strerror(errno);
        }
        mosquitto_lib_init();
        waiting_ = spool_->pending();
        spoolThread_ = std::thread([this] { keepSpool(); });
        linkThread_ = std::thread([this] { keepLink(); });
        return {};
    }

    void publish(int address, const std::string& recordJson) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            incoming_.emplace_back(address, recordJson);
            ++received_;
        }
        spoolWake_.notify_one();
    }

    void stop() {
        if (!spoolThread_.joinable()) {
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        spoolWake_.notify_one();
        wakeLink();
        linkThread_.join();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            linkDone_ = true;
        }
        spoolWake_.notify_one();
        spoolThread_.join();
        ::close(wakeFd_);
        mosquitto_lib_cleanup();
    }

    std::uint64_t droppedCount() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return dropped_;
    }

private:
    struct InFlight {
        SpooledRecord record;
        int mid = -1; // -1: not handed to the broker yet
        bool acknowledged = false;
    };
    enum class LinkState { Waiting, Connecting, Connected };

    void say(const std::string& line) {
        const std::lock_guard<std::mutex> lock(reportMutex_);
        report_(line);
    }

    std::string spoolName() const {
        return settings_.spoolPath ? "the spool \"" + *settings_.spoolPath + "\""
                                   : "memory (no --spool)";
    }

    // --- The spool thread: every record to the spool before it goes out, acknowledgements
    // off it, the disk synced once a second.

    void keepSpool() {
        auto lastSync = Clock::now();
        std::uint64_t acknowledged = 0;
        bool handedAll = false;
        std::uint64_t droppedReported = 0;
        auto dropReportDue = Clock::now();
        std::string lastError;
        auto errorReportDue = Clock::now();
        for (;;) {
            std::vector<std::pair<int, std::string>> incoming;
            std::uint64_t ackedThrough = 0;
            std::size_t room = 0;
            bool finish = false;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // Acknowledgements alone wake it only at the stop, where the network thread waits
                // for the spool to be drained: otherwise they are taken with the next record or
                // sync, a wakeup per record saved while the spool keeps them a moment longer.
                spoolWake_.wait_until(lock, lastSync + kSyncInterval, [&] {
                    return !incoming_.empty() || (stopping_ && ackedThrough_ > acknowledged) ||
                           (!handedAll && outbox_.size() < kWindow) || linkDone_;
                });
                incoming.swap(incoming_);
                ackedThrough = ackedThrough_;
                room = kWindow - std::min(kWindow, outbox_.size());
                finish = linkDone_;
            }
            // What the broker has is off the spool before new records count against its bound.
            if (ackedThrough > acknowledged) {
                spool_->acknowledge(ackedThrough);
                acknowledged = ackedThrough;
            }
            std::string error;
            for (const auto& [address, record] : incoming) {
                if (std::string failed = spool_->append(address, record); !failed.empty()) {
                    error = std::move(failed);
                }
                handedAll = false;
            }
            std::vector<SpooledRecord> fresh;
            while (fresh.size() < room) {
                std::optional<SpooledRecord> record = spool_->next();
                if (!record) {
                    handedAll = true;
                    break;
                }
                fresh.push_back(std::move(*record));
            }
            const auto now = Clock::now();
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                for (SpooledRecord& record : fresh) {
                    outbox_.push_back(std::move(record));
                }
                waiting_ = spool_->pending();
                dropped_ = spool_->dropped();
                spooled_ += incoming.size();
            }
            if (!fresh.empty()) {
                wakeLink();
            }
            // The records are on their way before the sync: they are written to the spool
            // already, and the sync makes only a power cut cheaper, which it does as well after
            // they went. Synced first, a record could wait for the disk at every second.
            if (finish || now - lastSync >= kSyncInterval) {
                if (std::string failed = finish ? spool_->close() : spool_->sync();
                    !failed.empty()) {
                    error = std::move(failed);
                }
                lastSync = now;
            }
            // One line when a trouble starts, then one a minute at most while it lasts.
            if (!error.empty() && (error != lastError || now >= errorReportDue)) {
                say(error);
                lastError = error;
                errorReportDue = now + kReportInterval;
            }
            const std::uint64_t dropped = spool_->dropped();
            if (dropped > droppedReported && (droppedReported == 0 || now >= dropReportDue)) {
                say("the records waiting for the broker in " + spoolName() + " reached " +
                    std::to_string(settings_.spoolMax) + ": the oldest are dropped, " +
                    std::to_string(dropped) + " so far");
                droppedReported = dropped;
                dropReportDue = now + kReportInterval;
            }
            if (finish) {
                return;
            }
        }
    }

    // --- The network thread: every libmosquitto call, so that its waits (a name lookup, a
    // TLS handshake) hold up no one else.

    void keepLink() {
        mosq_ = mosquitto_new(nullptr, true, this);
        if (mosq_ == nullptr) {
            say("cannot start the MQTT client: out of memory");
            return;
        }
        setUpClient();
        for (;;) {
            const auto now = Clock::now();
            bool stopping = false;
            bool drained = false;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                stopping = stopping_;
                drained = spooled_ == received_ && waiting_ == 0;
            }
            if (stopping) {
                if (!stopDeadline_) {
                    stopDeadline_ = now + kStopGrace;
                }
                // A broker not reached at the first try is not waited for; a run too short to
                // have tried yet still gets its one try.
                const bool given = state_ == LinkState::Waiting && attempted_;
                if (given || (state_ == LinkState::Connected && drained) || now >= *stopDeadline_) {
                    break;
                }
            }
            if (state_ == LinkState::Waiting && now >= nextAttempt_ && !(stopping && attempted_)) {
                connect();
            }
            if (state_ == LinkState::Connecting && now - attemptStart_ >= kConnectTimeout) {
                attemptFailed("no answer in " + secondsText(kConnectTimeout));
            }
            takeOutbox();
            waitForSocket(stopping);
        }
        if (state_ == LinkState::Connected) {
            sayGoodbye();
        }
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }

    void setUpClient() {
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_max_inflight_messages_set(mosq_, kWindow);
        const std::string status = statusTopic();
        mosquitto_will_set(mosq_, status.c_str(), 7, "offline", kQos, true);
        if (!settings_.broker.user.empty()) {
            mosquitto_username_pw_set(mosq_, settings_.broker.user.c_str(),
                                      settings_.password.empty() ? nullptr
                                                                 : settings_.password.c_str());
        }
        if (settings_.broker.tls) {
            // The broker's host name is checked against its certificate: tls_insecure stays off.
            mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        }
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int code) {
            static_cast<Impl*>(self)->connected(code);
        });
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
            static_cast<Impl*>(self)->acknowledged(mid);
        });
        mosquitto_log_callback_set(mosq_, [](mosquitto*, void* self, int level, const char* text) {
            if (level == MOSQ_LOG_ERR) {
                static_cast<Impl*>(self)->lastLogError_ = text;
            }
        });
    }

    std::string statusTopic() const { return settings_.topicPrefix + "/status"; }

    void connect() {
        attempted_ = true;
        attemptStart_ = Clock::now();
        lastLogError_.clear();
        const int code = mosquitto_connect_async(mosq_, settings_.broker.host.c_str(),
                                                 settings_.broker.port, kKeepAliveSeconds);
        if (code != MOSQ_ERR_SUCCESS) {
            attemptFailed(reasonOf(code));
            return;
        }
        state_ = LinkState::Connecting;
    }

    std::string reasonOf(int code) const {
        if (code == MOSQ_ERR_ERRNO) {
            return std::strerror(errno);
        }
        if (code == MOSQ_ERR_TLS && !lastLogError_.empty()) {
            if (lastLogError_.find("certificate verify failed") != std::string::npos) {
                return "its TLS certificate is not signed by the CA in \"" + settings_.caFile +
                       "\" or not made out to " + settings_.broker.host +
                       " (certificate verify failed)";
            }
            return "TLS: " + lastLogError_;
        }
        if (code == MOSQ_ERR_EAI) {
            return "the host name cannot be looked up";
        }
        return mosquitto_strerror(code);
    }

    void connected(int code) {
        if (code != 0) {
            attemptFailed(mosquitto_connack_string(code));
            return;
        }
        state_ = LinkState::Connected;
        retryDelay_ = kFirstRetry;
        if (outageReported_) {
            std::size_t waiting = 0;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                waiting = waiting_;
            }
            say("the MQTT broker " + settings_.broker.url() + " is back after " +
                secondsText(Clock::now() - outageStart_) + "; " + std::to_string(waiting) +
                " records waiting go out first");
            outageReported_ = false;
        }
        const std::string status = statusTopic();
        mosquitto_publish(mosq_, nullptr, status.c_str(), 6, "online", kQos, true);
        // What the broker took before the connection broke, libmosquitto sends again itself;
        // what never reached it goes now, in order.
        for (InFlight& flight : inFlight_) {
            if (flight.mid < 0 && !send(flight)) {
                break;
            }
        }
    }

    void attemptFailed(const std::string& reason) {
        const bool wasConnected = state_ == LinkState::Connected;
        state_ = LinkState::Waiting;
        nextAttempt_ = Clock::now() + retryDelay_;
        retryDelay_ = std::min<Clock::duration>(retryDelay_ * 2, kLongestRetry);
        if (outageReported_) {
            return;
        }
        outageReported_ = true;
        outageStart_ = Clock::now();
        say((wasConnected ? "lost the MQTT broker " : "cannot reach the MQTT broker ") +
            settings_.broker.url() + ": " + reason + "; records wait in " + spoolName() +
            " until it is back");
    }

    void acknowledged(int mid) {
        for (InFlight& flight : inFlight_) {
            if (flight.mid == mid) {
                flight.acknowledged = true;
                break;
            }
        }
        if (mid == goodbyeMid_) {
            goodbyeAcknowledged_ = true;
        }
        std::uint64_t through = 0;
        while (!inFlight_.empty() && inFlight_.front().acknowledged) {
            through = inFlight_.front().record.seq;
            inFlight_.pop_front();
        }
        if (through != 0) {
            bool stopping = false;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                ackedThrough_ = through;
                stopping = stopping_;
            }
            if (stopping) {
                spoolWake_.notify_one();
            }
        }
    }

    bool send(InFlight& flight) {
        const std::string topic =
            settings_.topicPrefix + "/" + std::to_string(flight.record.address) + "/reading";
        int mid = 0;
        const int code = mosquitto_publish(mosq_, &mid, topic.c_str(),
                                           static_cast<int>(flight.record.payload.size()),
                                           flight.record.payload.data(), kQos, false);
        if (code != MOSQ_ERR_SUCCESS) {
            return false;
        }
        flight.mid = mid;
        return true;
    }

    // At most a window's worth in memory: while the broker is away the rest waits on the disk.
    void takeOutbox() {
        std::deque<SpooledRecord> taken;
        bool wasFull = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            wasFull = outbox_.size() >= kWindow;
            while (!outbox_.empty() && inFlight_.size() + taken.size() < kWindow) {
                taken.push_back(std::move(outbox_.front()));
                outbox_.pop_front();
            }
        }
        if (taken.empty()) {
            return;
        }
        // The spool thread fills the outbox as far as it can, so it waits for room only when the
        // outbox was full; any other wakeup would be one per record for nothing.
        if (wasFull) {
            spoolWake_.notify_one();
        }
        for (SpooledRecord& record : taken) {
            inFlight_.push_back({std::move(record), -1, false});
            if (state_ == LinkState::Connected) {
                send(inFlight_.back());
            }
        }
    }

    void waitForSocket(bool stopping) {
        const auto now = Clock::now();
        auto timeout = milliseconds(stopping ? 20 : 1000);
        if (state_ == LinkState::Waiting) {
            timeout = std::min(timeout, std::chrono::duration_cast<milliseconds>(
                                            std::max(nextAttempt_ - now, Clock::duration())));
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
        const int socket = mosquitto_socket(mosq_);
        if (state_ != LinkState::Waiting && socket >= 0) {
            fds[1] = {socket,
                      static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0)), 0};
        }
        const int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
        if (ready < 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            if (::read(wakeFd_, &count, sizeof count) < 0) {
                count = 0;
            }
        }
        if (fds[1].fd >= 0 && fds[1].revents != 0) {
            if ((fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
                handle(mosquitto_loop_read(mosq_, 1));
            }
            if ((fds[1].revents & POLLOUT) != 0 && state_ != LinkState::Waiting) {
                handle(mosquitto_loop_write(mosq_, 1));
            }
        }
        if (state_ != LinkState::Waiting && mosquitto_want_write(mosq_)) {
            handle(mosquitto_loop_write(mosq_, 1));
        }
        if (state_ != LinkState::Waiting) {
            handle(mosquitto_loop_misc(mosq_));
        }
    }

    void handle(int code) {
        if (code == MOSQ_ERR_SUCCESS || state_ == LinkState::Waiting) {
            return;
        }
        std::string reason = reasonOf(code);
        if (code == MOSQ_ERR_CONN_LOST || code == MOSQ_ERR_NO_CONN) {
            reason = "the connection was closed";
        }
        attemptFailed(reason);
    }

    // "offline" while the connection is still there, so that the broker keeps it rather than
    // the last will, which a clean disconnect cancels.
    void sayGoodbye() {
        const std::string status = statusTopic();
        mosquitto_publish(mosq_, &goodbyeMid_, status.c_str(), 7, "offline", kQos, true);
        const auto deadline = Clock::now() + kGoodbyeGrace;
        while (!goodbyeAcknowledged_ && state_ == LinkState::Connected && Clock::now() < deadline) {
            waitForSocket(true);
        }
        mosquitto_disconnect(mosq_);
        mosquitto_loop_write(mosq_, 1);
    }

    void wakeLink() {
        const std::uint64_t one = 1;
        if (::write(wakeFd_, &one, sizeof one) < 0) {
            // The counter is full, so the thread is already woken.
        }
    }

    GatewaySettings settings_;
    Report report_;
    std::mutex reportMutex_;
    std::unique_ptr<Spool> spool_; // the spool thread's, once started
    std::thread spoolThread_;
    std::thread linkThread_;
    int wakeFd_ = -1;

    // Between the threads.
    mutable std::mutex mutex_;
    std::condition_variable spoolWake_;
    std::vector<std::pair<int, std::string>> incoming_; // from the reading loop
    std::deque<SpooledRecord> outbox_;                  // from the spool to the network
    std::uint64_t ackedThrough_ = 0;                    // from the network to the spool
    std::size_t waiting_ = 0;                           // in the spool, unacknowledged
    std::uint64_t dropped_ = 0;
    std::uint64_t received_ = 0; // records handed over by the reading loop
    std::uint64_t spooled_ = 0;  // of those, the records the spool thread has taken in
    bool stopping_ = false;
    bool linkDone_ = false;

    // The network thread's own.
    mosquitto* mosq_ = nullptr;
    LinkState state_ = LinkState::Waiting;
    bool attempted_ = false;
    std::deque<InFlight> inFlight_;
    Clock::time_point nextAttempt_{};
    Clock::time_point attemptStart_{};
    Clock::duration retryDelay_ = kFirstRetry;
    bool outageReported_ = false;
    Clock::time_point outageStart_{};
    std::optional<Clock::time_point> stopDeadline_;
    std::string lastLogError_;
    int goodbyeMid_ = -1;
    bool goodbyeAcknowledged_ = false;
};

Gateway::Gateway(GatewaySettings settings, Report report)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(report))) {}

Gateway::~Gateway() = default;

std::string Gateway::start() {
    return impl_->start();
}

void Gateway::publish(int address, const std::string& recordJson) {
    impl_->publish(address, recordJson);
}

void Gateway::stop() {
    impl_->stop();
}

std::uint64_t Gateway::droppedCount() const {
    return impl_->droppedCount();
}

} // namespace darq
