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
        case posix::kErrorServiceExists:
            text = "The specified service already exists.";
            break;
        case posix::kErrorServiceDoesNotExist:
            text = "The specified service does not exist as an installed service.";
            break;
        case posix::kErrorServiceNotActive:
            text = "The service has not been started.";
            break;
        case posix::kErrorServiceAlreadyRunning:
            text = "An instance of the service is already running.";
            break;
        case posix::kErrorInvalidServiceAccount:
            text = "The account name is invalid or does not exist.";
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
