#include "private_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <stdexcept>

namespace darq::testing {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}

} // namespace

PrivateSettings::PrivateSettings() {
    const char* temporary = std::getenv("TMPDIR");
    directory_ = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                 "/darq-settings-XXXXXX";
    if (::mkdtemp(directory_.data()) == nullptr) {
        throw std::runtime_error("settings directory: " + std::string(std::strerror(errno)));
    }
    ::setenv("XDG_CONFIG_HOME", directory_.c_str(), 1);
}

PrivateSettings::~PrivateSettings() {
    ::nftw(directory_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace darq::testing
