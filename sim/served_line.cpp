#include "sim/served_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace darq::sim {

namespace {

// How many clients may wait in the queue for their turn while one is served.
constexpr int kWaitingClients = 4;

std::runtime_error failure(const std::string& what, const std::string& path, int error) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

void closeQuietly(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

void setInstrumentLine(int fd, const std::string& path, int baudRate) {
    const auto speed = speedOf(baudRate);
    if (!speed) {
        throw std::runtime_error("rate " + std::to_string(baudRate) + " is not a serial rate");
    }
    termios attributes{};
    if (::tcgetattr(fd, &attributes) != 0) {
        throw failure("cannot read the line settings of", path, errno);
    }
    makeInstrumentLine(attributes, *speed);
    if (::tcsetattr(fd, TCSANOW, &attributes) != 0) {
        throw failure("cannot set the line settings of", path, errno);
    }
}

std::optional<std::string> linkTarget(const std::string& linkPath) {
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(linkPath.c_str(), target.data(), target.size());
    if (length < 0) {
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// "127.0.0.1:5020", "[::1]:5020".
std::string endpointText(const sockaddr_storage& address, socklen_t length) {
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, port,
                  sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    const bool ipv6 = std::strchr(host, ':') != nullptr;
    return (ipv6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + port;
}

bool isStaleInstrumentLink(const std::string& linkPath) {
    char resolved[PATH_MAX];
    if (::realpath(linkPath.c_str(), resolved) == nullptr) {
        return errno == ENOENT; // dangling
    }
    return std::string(resolved).rfind("/dev/pts/", 0) == 0;
}

} // namespace

ServedLine::ServedLine(int fd, int keptSlaveFd, std::string path, int listenFd)
    : fd_(fd), keptSlaveFd_(keptSlaveFd), listenFd_(listenFd), path_(std::move(path)) {}

ServedLine::ServedLine(ServedLine&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), keptSlaveFd_(std::exchange(other.keptSlaveFd_, -1)),
      listenFd_(std::exchange(other.listenFd_, -1)), path_(std::move(other.path_)) {}

ServedLine::~ServedLine() {
    for (const int fd : {keptSlaveFd_, fd_, listenFd_}) {
        closeQuietly(fd);
    }
}

ServedLine ServedLine::openPseudoTerminal(int baudRate) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        throw failure("cannot open", "a pseudo-terminal", errno);
    }
    char slaveName[256];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        const int error = errno;
        ::close(master);
        throw failure("cannot prepare", "a pseudo-terminal", error);
    }
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int error = errno;
        ::close(master);
        throw failure("cannot open", slaveName, error);
    }
    ServedLine line(master, slave, slaveName);
    setInstrumentLine(slave, line.path_, baudRate);
    if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        throw failure("cannot make non-blocking", "the pseudo-terminal master", errno);
    }
    return line;
}

ServedLine ServedLine::openDevice(const std::string& path, int baudRate) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw failure("cannot open", path, errno);
    }
    ServedLine line(fd, -1, path);
    setInstrumentLine(fd, path, baudRate);
    return line;
}

ServedLine ServedLine::listenOn(const std::string& host, int port) {
    const std::string where = host + " port " + std::to_string(port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        error != 0) {
        throw std::runtime_error("cannot listen on " + where + ": " + ::gai_strerror(error));
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw failure("cannot listen on", where, errno);
    }
    ServedLine line(-1, -1, "", fd);
    // A simulator started again at once must get its port back while the last one's connections
    // linger in TIME_WAIT.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, kWaitingClients) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        throw failure("cannot listen on", where, errno);
    }
    line.path_ = "tcp://" + endpointText(bound, length);
    return line;
}

std::optional<std::string> ServedLine::acceptClient() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    fd_ = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length,
                    SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd_ < 0) {
        return std::nullopt;
    }
    // Paced bytes go out one by one, each when it is due, not gathered for a fuller segment.
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return endpointText(peer, length);
}

void ServedLine::dropClient() {
    closeQuietly(std::exchange(fd_, -1));
}

std::optional<LineSettings> ServedLine::currentSettings() const {
    termios attributes{};
    if (::tcgetattr(fd_, &attributes) != 0) {
        return std::nullopt;
    }
    return lineSettingsOf(attributes);
}

DeviceLink::DeviceLink(std::string linkPath, std::string target)
    : linkPath_(std::move(linkPath)), target_(std::move(target)) {
    struct stat existing {};
    if (::lstat(linkPath_.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            throw std::runtime_error("cannot make the link " + linkPath_ +
                                     ": something other than a symbolic link has that name");
        }
        // Only a link left behind by an earlier instrument may go: one that leads nowhere or to
        // a pseudo-terminal. A link to anything else is someone's, a real adapter's perhaps.
        if (!isStaleInstrumentLink(linkPath_)) {
            throw std::runtime_error("cannot make the link " + linkPath_ + ": it leads to " +
                                     linkTarget(linkPath_).value_or("?") +
                                     ", which is not a pseudo-terminal; remove it or choose "
                                     "another name");
        }
        if (::unlink(linkPath_.c_str()) != 0) {
            throw failure("cannot replace the link", linkPath_, errno);
        }
    }
    if (::symlink(target_.c_str(), linkPath_.c_str()) != 0) {
        throw failure("cannot make the link", linkPath_, errno);
    }
}

DeviceLink::~DeviceLink() {
    if (linkTarget(linkPath_) == target_) {
        ::unlink(linkPath_.c_str());
    }
}

} // namespace darq::sim
