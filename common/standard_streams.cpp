#include "common/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace darq {

ClosedStandardStreams reopenClosedStandardStreams() {
    ClosedStandardStreams closed;
    bool* const flags[] = {&closed.input, &closed.output, &closed.error};
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1) {
            continue;
        }
        *flags[descriptor] = true;
        // The lowest free number is the closed one itself.
        ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
    return closed;
}

} // namespace darq
