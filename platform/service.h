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
class Service;

// Opens the service manager for installing, removing, starting and stopping services; null (with
// the last error set) when it cannot be opened or used.
ServiceManager* OpenServiceManager();

void CloseServiceManager(ServiceManager* manager);

// What a service is installed with. The binary path is started without arguments; a null account
// means the system's own account.
struct ServiceConfig {
    const char* serviceName = nullptr;
    const char* displayName = nullptr;
    std::uint32_t desiredAccess = 0;
    std::uint32_t serviceType = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
    const char* binaryPath = nullptr;
    const char* loadOrderGroup = nullptr;
    std::uint32_t* tagId = nullptr;
    const char* dependencies = nullptr;
    const char* accountName = nullptr;
    const char* password = nullptr;
};

// Installs the service, set to start with the system; null (with the last error set) when it
// exists already or cannot be installed.
Service* CreateService(ServiceManager* manager, const ServiceConfig& config);

// Opens an installed service; null (with the last error set) when it is not installed.
Service* OpenService(ServiceManager* manager, const char* serviceName, std::uint32_t desiredAccess);

// Sends a control to the service and writes its status into the record; false (with the last
// error set) when the service refuses it, as a service that is not running refuses a stop.
bool ControlService(Service* service, std::uint32_t control, ServiceStatus& status);

// Writes the service's status into the record; false (with the last error set) on failure.
bool QueryServiceStatus(Service* service, ServiceStatus& status);

// Starts the service without arguments; false (with the last error set) when it is running
// already or cannot be started.
bool StartService(Service* service);

// Uninstalls the service; false (with the last error set) on failure.
bool DeleteService(Service* service);

void CloseService(Service* service);

// Writes the full path of the program file into the buffer; false (with the last error set) when
// it cannot be read or does not fit.
bool ProgramFilePath(char* buffer, unsigned size);

}  // namespace platform
