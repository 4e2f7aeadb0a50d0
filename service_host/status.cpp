#include "service_host/status.h"

#include "platform/eventlog.h"

namespace service_host {

void PrepareStatusReport(platform::ServiceStatus& status, std::uint32_t& checkPointCounter,
                         std::uint32_t controlsAccepted, std::uint32_t state,
                         std::uint32_t waitHint, std::uint32_t exitCode) {
    status.controlsAccepted = state == kServiceStartPending ? 0 : controlsAccepted;
    status.currentState = state;
    status.win32ExitCode = exitCode != 0 ? kErrorServiceSpecificError : 0;
    status.waitHint = waitHint;
    status.serviceSpecificExitCode = exitCode;
    if (state == kServiceRunning || state == kServiceStopped) {
        status.checkPoint = 0;
    } else {
        status.checkPoint = ++checkPointCounter;
    }
}

std::uint32_t ChooseEventId(std::uint32_t type, std::uint32_t eventId) {
    if (eventId != kDefaultEventId) {
        return eventId;
    }
    switch (type & 0xFFFFu) {
        case platform::kEventError:
            return 0xC0000002u;
        case platform::kEventWarning:
            return 0x80000001u;
        default:
            return 0x40000000u;
    }
}

}  // namespace service_host
