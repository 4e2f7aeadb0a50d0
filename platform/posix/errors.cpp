#include "platform/errors.h"

#include <cerrno>
#include <cstring>

#include "platform/posix/errors_posix.h"

namespace platform {

std::optional<std::string> LastErrorMessage() {
    const int code = errno;
    std::string text;
    switch (code) {
        case posix::kErrorNotStartedByServiceManager:
            text = "The process was not started by the service manager.";
            break;
        case posix::kErrorNoServiceControl:
            text = "Installing and controlling the service is not supported on this system yet.";
            break;
        case posix::kErrorNotRegularFile:
            text = "Not a regular file";
            break;
        default: {
            char buffer[256];
            // The GNU form returns a pointer to the text, which need not be the buffer.
            const char* message = strerror_r(code, buffer, sizeof buffer);
            if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0) {
                return std::nullopt;
            }
            text = message;
            break;
        }
    }
    // System messages end with a line end; callers take it off.
    text += "\r\n";
    return text;
}

}  // namespace platform
