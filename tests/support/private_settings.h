#pragma once

#include <string>

namespace darq::testing {

// Gives this test program, and every program it starts, a configuration directory of its own
// (XDG_CONFIG_HOME) for as long as it lives: the tests assign ports and must never read or change
// the port assignments of the user who runs them. Create one first thing in main, before anything
// reads a setting.
class PrivateSettings {
public:
    PrivateSettings();
    ~PrivateSettings(); // removes the directory and everything in it
    PrivateSettings(const PrivateSettings&) = delete;
    PrivateSettings& operator=(const PrivateSettings&) = delete;

private:
    std::string directory_;
};

} // namespace darq::testing
