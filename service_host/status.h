// The rules of status reports and event ids.
#pragma once

#include <cstdint>

#include "platform/service.h"

namespace service_host {

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;

inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;

inline constexpr std::uint32_t kServiceControlStop = 1;
inline constexpr std::uint32_t kServiceControlPause = 2;
inline constexpr std::uint32_t kServiceControlContinue = 3;
inline constexpr std::uint32_t kServiceControlInterrogate = 4;
inline constexpr std::uint32_t kServiceControlShutdown = 5;

inline constexpr std::uint32_t kServiceAcceptStop = 1;
inline constexpr std::uint32_t kServiceAcceptShutdown = 4;

inline constexpr std::uint32_t kErrorServiceSpecificError = 1066;

// Fills the status record for a report of the state. Start-pending reports accept no controls;
// pending states take the next value of the life-long check-point counter, running and stopped
// reports check point 0 without touching the counter; a service-specific exit code brings the
// Win32 exit code ERROR_SERVICE_SPECIFIC_ERROR with it.
void PrepareStatusReport(platform::ServiceStatus& status, std::uint32_t& checkPointCounter,
                         std::uint32_t controlsAccepted, std::uint32_t state,
                         std::uint32_t waitHint, std::uint32_t exitCode);

// Event ids: the caller's own, or for kDefaultEventId the id of the message for the event type.
inline constexpr std::uint32_t kDefaultEventId = 0xFFFFFFFFu;
std::uint32_t ChooseEventId(std::uint32_t type, std::uint32_t eventId);

}  // namespace service_host
