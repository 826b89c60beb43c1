#include "bare_exchange.h"

#include "common/child_process.h"
#include "process_footprint.h"

#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "protocol/reply_completion.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace darq::bench {

namespace {

constexpr std::chrono::milliseconds kReplyWait{100};

// Collects one reply by darq-read's rule: 17 bytes, then the quiet gap, or the wait runs out.
const Bytes& collectReply(int fd, ReplyCollector& collector) {
    using Clock = ReplyCollector::Clock;
    collector.start(Clock::now());
    for (Clock::time_point now = Clock::now(); !collector.isComplete(now); now = Clock::now()) {
        pollfd watched{fd, POLLIN, 0};
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(collector.completionTime() - now);
        if (::poll(&watched, 1, int(wait.count())) > 0) {
            std::uint8_t buffer[256];
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                collector.add(Bytes(buffer, buffer + count), Clock::now());
            }
        }
    }
    return collector.received();
}

} // namespace

int runBareExchanges(const std::string& device, int count) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 2;
    }
    termios line{};
    ::tcgetattr(fd, &line);
    ::cfmakeraw(&line);
    ::cfsetspeed(&line, B9600);
    line.c_cflag |= CSTOPB | CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &line);
    const ReadRequest request = *buildReadRequest(1);
    ReplyCollector collector(ReplyWait::CompleteReply, replyGap(9600), kReplyWait);
    int answered = 0;
    const double cpuBefore = ownCpuMs();
    for (int reading = 0; reading < count; ++reading) {
        ::tcflush(fd, TCIFLUSH);
        if (::write(fd, request.data(), request.size()) != ssize_t(request.size())) {
            break;
        }
        const std::size_t received = collectReply(fd, collector).size();
        answered += received >= kReplyLength ? 1 : 0;
        std::printf("%d %zu\n", reading, received);
        std::fflush(stdout);
    }
    // Its own account, without the cost of loading the program, which a reader pays once.
    std::printf("cpu %.6f\n", ownCpuMs() - cpuBefore);
    ::close(fd);
    return answered == count ? 0 : 1;
}

namespace {

std::optional<double> bareExchangeCpuMs(const std::string& device, int count) {
    ChildProcess probe(ownProgramPath(), {kBareExchangeOption, device, std::to_string(count)});
    const std::optional<std::string> output = probe.readToEnd(count * 200 + 5000);
    const std::optional<ChildProcess::Ending> ending = probe.wait(5000);
    const std::size_t account = output ? output->rfind("cpu ") : std::string::npos;
    double cpuMs = 0;
    if (account == std::string::npos || !ending || ending->exitStatus != 0 ||
        std::sscanf(output->c_str() + account, "cpu %lf", &cpuMs) != 1) {
        probe.stop();
        return std::nullopt;
    }
    return cpuMs;
}

} // namespace

BareExchanges bareExchangesAround(const std::string& device, int count,
                                  const std::function<void()>& between) {
    const std::optional<double> before = bareExchangeCpuMs(device, count / 2);
    between();
    const std::optional<double> after = bareExchangeCpuMs(device, count - count / 2);
    BareExchanges result;
    if (before && after) {
        result.cpuMsPerExchange = (*before + *after) / count;
    } else {
        result.problem = "the bare exchange did not get every reply";
    }
    return result;
}

void addCpuAboveBareExchange(RunRows& rows, const std::string& figure, const std::string& perWhat,
                             std::optional<double> cpuMs, const BareExchanges& bare,
                             double targetMs, bool sound, const std::string& note) {
    const bool bareSound = bare.problem.empty();
    rows.add(figure, "9600", "above bare exchange",
             cpuMs && bareSound ? std::optional<double>(*cpuMs - bare.cpuMsPerExchange)
                                : std::nullopt,
             Unit::CpuMilliseconds)
        .judge(Target::below(targetMs), sound && bareSound)
        .withNote(bareSound ? note : bare.problem);
    rows.add(figure, "9600", perWhat, cpuMs, Unit::CpuMilliseconds);
    rows.add(figure, "9600", "bare exchange",
             bareSound ? std::optional<double>(bare.cpuMsPerExchange) : std::nullopt,
             Unit::CpuMilliseconds);
}

} // namespace darq::bench
