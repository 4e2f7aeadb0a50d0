// The system's event log.
#pragma once

#include <cstdint>

#include "platform/system.h"

namespace platform {

// Event types.
inline constexpr std::uint32_t kEventError = 1;
inline constexpr std::uint32_t kEventWarning = 2;
inline constexpr std::uint32_t kEventInformation = 4;

// Writes one entry under the source with the given type, event id and user (null for none); false
// when the event log cannot be reached.
bool ReportEvent(const char* source, std::uint32_t type, std::uint32_t eventId,
                 const SecurityId* user, const char* text);

}  // namespace platform
