// How the POSIX back end speaks to systemd: the unit of a service, the reports it sends, and the
// states it reads back. Plain functions, for the back end and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/service.h"

namespace platform::posix {

// The unit of a service: its name in lower case, then ".service".
std::string UnitName(std::string_view serviceName);

// The unit file of a service: started as a notifying service with its binary path and no
// arguments, exit code 1 counted as success, started with the system, and run as the account when
// one is given, which may then bind the privileged ports.
std::string UnitFileText(const ServiceConfig& config);

// The notification that reports a status to systemd: progress of a pending state extends the
// start or stop time-out by the wait hint, running is READY=1, stop-pending STOPPING=1, and every
// report carries a STATUS= text for `systemctl status`.
std::string NotifyMessage(const ServiceStatus& status);

// The service state of a unit's ActiveState: activating is start-pending, active and reloading
// running, deactivating stop-pending, anything else (inactive, failed) stopped.
std::uint32_t ServiceStateOf(std::string_view activeState);

}  // namespace platform::posix
