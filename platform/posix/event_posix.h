// The POSIX event, shared with the socket wait.
#pragma once

#include <atomic>

namespace platform {

// A flag for the cheap test and a pipe that becomes readable once the event is signalled, so that
// a poll can wait on the event together with a socket.
class Event {
public:
    std::atomic<bool> m_signalled{false};
    int m_readEnd = -1;
    int m_writeEnd = -1;
};

}  // namespace platform
