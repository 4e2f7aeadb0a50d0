// The service manager: dispatcher, control handler and status reports.
#pragma once

#include <cstdint>

namespace platform {

// The service status record reported to the service manager.
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

using StatusHandle = void*;
using ServiceMainFunction = void (*)(std::uint32_t argc, char** argv);
using ServiceControlHandler = void (*)(std::uint32_t control);

// Hands the calling thread to the service manager, which runs the service main function on a
// thread of its own; returns after the service has stopped. False (with the last error set) when
// the process was not started by the service manager.
bool StartServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain);

// Registers the control handler of the service; null (with the last error set) on failure.
StatusHandle RegisterControlHandler(const char* serviceName, ServiceControlHandler handler);

// Sends a status report; false (with the last error set) when the manager refuses it.
bool ReportServiceStatus(StatusHandle handle, const ServiceStatus& status);

class ServiceManager;

// Opens the service manager for installing, removing, starting and stopping services; null (with
// the last error set) when it cannot be opened.
ServiceManager* OpenServiceManager();

void CloseServiceManager(ServiceManager* manager);

// Writes the full path of the program file into the buffer; false (with the last error set) when
// it cannot be read or does not fit.
bool ProgramFilePath(char* buffer, unsigned size);

}  // namespace platform
