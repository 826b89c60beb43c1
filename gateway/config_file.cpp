#include "gateway/config_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace darq {

namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool isOptionName(const std::string& name) {
    if (name.empty() || name.front() < 'a' || name.front() > 'z') {
        return false;
    }
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string::npos;
}

} // namespace

ConfigFile readConfigFile(const std::string& path) {
    ConfigFile config;
    std::ifstream file(path);
    if (!file) {
        config.error = "cannot read the config file \"" + path + "\": " + std::strerror(errno);
        return config;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string where = path + ":" + std::to_string(number);
        const std::string content = trimmed(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        const std::size_t equals = content.find('=');
        ConfigEntry entry{trimmed(content.substr(0, equals)), std::nullopt, where};
        if (equals != std::string::npos) {
            entry.value = trimmed(content.substr(equals + 1));
        }
        if (!isOptionName(entry.name)) {
            config.entries.clear();
            config.error = where + ": \"" + content +
                           "\" is not \"name = value\" with a long option's name, such as "
                           "\"port = /dev/ttyUSB0\"";
            return config;
        }
        for (const ConfigEntry& earlier : config.entries) {
            if (earlier.name == entry.name) {
                ConfigFile refused;
                refused.error = where + ": " + entry.name + " is given a second time (first at " +
                                earlier.where + ")";
                return refused;
            }
        }
        config.entries.push_back(std::move(entry));
    }
    if (file.bad()) {
        config.entries.clear();
        config.error = "cannot read the config file \"" + path + "\": " + std::strerror(errno);
    }
    return config;
}

} // namespace darq
