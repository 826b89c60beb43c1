#pragma once

namespace darq {

// A TCP port on 127.0.0.1 that nothing listens on now, for a broker or server of one's own; the
// system hands it out, so two at once never get the same. Throws when the system has none.
int freeLoopbackPort();

// Whether something accepts a connection on 127.0.0.1 at `port` now.
bool loopbackPortAnswers(int port);

} // namespace darq
