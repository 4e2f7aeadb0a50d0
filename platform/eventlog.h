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

// Registers the source with the file that holds its messages, for the event types of the mask;
// failures are not reported.
void AddEventSource(const char* source, const char* messageFilePath, std::uint32_t typesSupported);

// Undoes the registration of the source; failures are not reported.
void RemoveEventSource(const char* source);

}  // namespace platform
