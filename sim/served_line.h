#pragma once

#include "sim/line_settings.h"

#include <optional>
#include <string>

namespace darq::sim {

// The line the instrument listens on: the master side of a fresh pseudo-terminal, a serial
// device, or the connection of a TCP client, which carries the line's bytes as they are (RTU over
// TCP). Opening failures throw std::runtime_error naming the device and the reason.
class ServedLine {
public:
    static ServedLine openPseudoTerminal(int baudRate);
    static ServedLine openDevice(const std::string& path, int baudRate);
    // One client at a time: the next waits in the listening queue until this one has gone.
    static ServedLine listenOn(const std::string& host, int port);

    ServedLine(ServedLine&& other) noexcept;
    ServedLine& operator=(ServedLine&&) = delete;
    ServedLine(const ServedLine&) = delete;
    ServedLine& operator=(const ServedLine&) = delete;
    ~ServedLine();

    int fd() const { return fd_; } // -1 while no TCP client is connected
    // What the tool opens: the pseudo-terminal's slave side, the device itself, or
    // "tcp://HOST:PORT".
    const std::string& path() const { return path_; }
    bool isPseudoTerminal() const { return keptSlaveFd_ >= 0; }
    bool isSocket() const { return listenFd_ >= 0; }
    // What to wait on: the line, or the listening socket while no client is connected.
    int waitFd() const { return fd_ >= 0 ? fd_ : listenFd_; }
    // Takes the waiting client as the line and gives its address; none, with errno set, when
    // there is none after all or it cannot be taken.
    std::optional<std::string> acceptClient();
    void dropClient();
    // The settings the tool last gave the line; on Linux the master of a pseudo-terminal reports
    // those of its slave side.
    std::optional<LineSettings> currentSettings() const;

private:
    ServedLine(int fd, int keptSlaveFd, std::string path, int listenFd = -1);

    int fd_ = -1;
    // Held open for as long as we serve: with no slave open the master reports a hang-up on every
    // poll, and the slave's settings would fall back to a cooked, echoing terminal between two
    // openings by the tool.
    int keptSlaveFd_ = -1;
    int listenFd_ = -1;
    std::string path_;
};

// A symbolic link to the served device under a stable name, removed again when the instrument
// stops (unless someone has replaced it meanwhile).
class DeviceLink {
public:
    // Replaces a symbolic link of that name that leads nowhere or to a pseudo-terminal (one an
    // earlier instrument left); refuses to replace anything else.
    DeviceLink(std::string linkPath, std::string target);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink();

private:
    std::string linkPath_;
    std::string target_;
};

} // namespace darq::sim
