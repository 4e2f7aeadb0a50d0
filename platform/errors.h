// The system's own text for the last error of the calling thread.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The system's message for the calling thread's last error, exactly as the system words it and
// ending in CR LF as system messages do; nothing when the system has no text for the error.
std::optional<std::string> LastErrorMessage();

}  // namespace platform
