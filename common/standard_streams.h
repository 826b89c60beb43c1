#pragma once

namespace darq {

// Which of standard input, output and error were closed when the program started.
struct ClosedStandardStreams {
    bool input = false;
    bool output = false;
    bool error = false;
};

// Opens each closed standard stream on /dev/null. Otherwise the serial port (or the simulator's
// pseudo-terminal), opened later, would get the lowest free descriptor, 1 say, and everything
// printed would go out on the line. Call first thing in main.
ClosedStandardStreams reopenClosedStandardStreams();

} // namespace darq
