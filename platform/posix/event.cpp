#include "platform/event.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/event_posix.h"

namespace platform {

Event* CreateManualResetEvent() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    auto* event = new Event;
    event->m_readEnd = ends[0];
    event->m_writeEnd = ends[1];
    return event;
}

void SignalEvent(Event* event) {
    if (event->m_signalled.exchange(true)) {
        return;
    }
    // Nothing ever reads the byte: the read end stays readable for as long as the event lives.
    const char byte = 1;
    while (write(event->m_writeEnd, &byte, 1) < 0 && errno == EINTR) {
    }
}

bool WaitEvent(Event* event, unsigned milliseconds) {
    if (event->m_signalled.load() || milliseconds == 0) {
        return event->m_signalled.load();
    }
    pollfd wait{event->m_readEnd, POLLIN, 0};
    poll(&wait, 1, static_cast<int>(milliseconds));
    return event->m_signalled.load();
}

void CloseEvent(Event* event) {
    close(event->m_readEnd);
    close(event->m_writeEnd);
    delete event;
}

}  // namespace platform
