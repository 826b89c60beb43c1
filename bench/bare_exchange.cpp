#include "bare_exchange.h"

#include "common/child_process.h"
#include "process_footprint.h"

#include "protocol/read_request.h"
#include "protocol/reply.h"
#include "protocol/reply_completion.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace darq::bench {

namespace {

constexpr int kReplyWaitMs = 100;

// Reads whatever arrives within `timeoutMs`; false when nothing did.
bool readWithin(int fd, int timeoutMs, std::size_t& received) {
    pollfd watched{fd, POLLIN, 0};
    if (::poll(&watched, 1, timeoutMs) <= 0) {
        return false;
    }
    unsigned char buffer[256];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
        received += std::size_t(count);
    }
    return count > 0 || (count < 0 && errno == EAGAIN);
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
    const int quietGapMs =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(replyGap(9600)).count());
    int answered = 0;
    const double cpuBefore = ownCpuMs();
    for (int reading = 0; reading < count; ++reading) {
        ::tcflush(fd, TCIFLUSH);
        if (::write(fd, request.data(), request.size()) != ssize_t(request.size())) {
            break;
        }
        std::size_t received = 0;
        bool arriving = true;
        while (received < kReplyLength && arriving) {
            arriving = readWithin(fd, kReplyWaitMs, received);
        }
        // The reply is complete once the line has been quiet for the gap, as darq-read decides.
        while (received >= kReplyLength && arriving) {
            arriving = readWithin(fd, quietGapMs, received);
        }
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
