#include "sim/served_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace darq::sim {

namespace {

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

bool isStaleInstrumentLink(const std::string& linkPath) {
    char resolved[PATH_MAX];
    if (::realpath(linkPath.c_str(), resolved) == nullptr) {
        return errno == ENOENT; // dangling
    }
    return std::string(resolved).rfind("/dev/pts/", 0) == 0;
}

} // namespace

ServedLine::ServedLine(int fd, int keptSlaveFd, std::string path)
    : fd_(fd), keptSlaveFd_(keptSlaveFd), path_(std::move(path)) {}

ServedLine::ServedLine(ServedLine&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), keptSlaveFd_(std::exchange(other.keptSlaveFd_, -1)),
      path_(std::move(other.path_)) {}

ServedLine::~ServedLine() {
    closeQuietly(keptSlaveFd_);
    closeQuietly(fd_);
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
