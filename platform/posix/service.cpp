#include "platform/service.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/errors_posix.h"

namespace platform {

class ServiceManager {};

bool StartServiceDispatcher(const char* /*serviceName*/, ServiceMainFunction /*serviceMain*/) {
    errno = posix::kErrorNotStartedByServiceManager;
    return false;
}

StatusHandle RegisterControlHandler(const char* /*serviceName*/,
                                    ServiceControlHandler /*handler*/) {
    errno = posix::kErrorNotStartedByServiceManager;
    return nullptr;
}

bool ReportServiceStatus(StatusHandle /*handle*/, const ServiceStatus& /*status*/) {
    errno = posix::kErrorNotStartedByServiceManager;
    return false;
}

ServiceManager* OpenServiceManager() {
    errno = posix::kErrorNoServiceControl;
    return nullptr;
}

void CloseServiceManager(ServiceManager* manager) {
    delete manager;
}

bool ProgramFilePath(char* buffer, unsigned size) {
    const ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length < 0) {
        return false;
    }
    if (static_cast<unsigned>(length) >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    buffer[length] = '\0';
    return true;
}

}  // namespace platform
