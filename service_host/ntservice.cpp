#include "service_host/ntservice.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "service_host/options.h"
#include "service_host/status.h"

CNTService* g_service = nullptr;

namespace {

constexpr unsigned kEchoDrainTime = 2000;
constexpr unsigned kStatusPollInterval = 1000;
// Error, warning and information.
constexpr std::uint32_t kEventTypesSupported = 7;

}  // namespace

CNTService::CNTService(const char* serviceName, const char* displayName)
    : m_serviceName(serviceName),
      m_displayName(displayName != nullptr ? displayName : serviceName),
      m_isNT(platform::HasServiceManager()) {
    g_service = this;
    m_status.serviceType = service_host::kServiceWin32OwnProcess;
    m_status.serviceSpecificExitCode = 0;
    if (m_isNT) {
        m_userSid = platform::CurrentUserSid();
    }
}

CNTService::~CNTService() {
    g_service = nullptr;
}

std::uint32_t CNTService::DispatchCommandLine(int argc, char** argv) {
    using service_host::Action;
    const service_host::CommandLine line = service_host::ScanCommandLine(argc, argv);
    if (line.accountName != nullptr) {
        m_accountName = line.accountName;
    }
    if (line.password != nullptr) {
        m_password = line.password;
    }
    switch (line.action) {
        case Action::RunConsole:
        case Action::RunHidden:
            m_standalone = true;
            return RunStandalone(argc, argv, line.action == Action::RunHidden);
        case Action::InstallSelf:
            return InstallSelf();
        case Action::RemoveSelf:
            return RemoveSelf();
        case Action::StartInstalled:
            return StartInstalled();
        case Action::StopInstalled:
            return StopInstalled();
        case Action::StartControlDispatcher:
            break;
    }
    if (m_isNT) {
        return StartControlDispatcher();
    }
    m_standalone = true;
    return RunStandalone(argc, argv, true);
}

std::uint32_t CNTService::RunStandalone(int argc, char** argv, bool hidden) {
    bool serviceProcess = false;
    if (!hidden) {
        EnsureConsole();
        platform::Echo(std::string("Debugging ") + m_displayName + ".\n");
        platform::AddConsoleHandler(ConsoleCtrlHandler);
    } else {
        platform::CreateHiddenWindow("Tuv__FacelessWndProc_", HiddenWndProc);
        serviceProcess = platform::RegisterServiceProcess(true);
    }
    Run(static_cast<std::uint32_t>(argc), argv);
    if (serviceProcess) {
        platform::RegisterServiceProcess(false);
    }
    // What is still to be shown gets a moment, but a console that does not read cannot hold the
    // process.
    platform::DrainEcho(kEchoDrainTime);
    return 1;
}

bool CNTService::ConsoleCtrlHandler(unsigned ctrlType) {
    if (ctrlType != platform::kCtrlCEvent && ctrlType != platform::kCtrlBreakEvent) {
        return false;
    }
    // A Ctrl event while the process is ending finds no object left to stop.
    CNTService* service = g_service;
    if (service != nullptr) {
        platform::Echo(std::string("Stopping ") + service->m_displayName + ".\n");
        service->Stop();
    }
    return true;
}

std::intptr_t CNTService::HiddenWndProc(platform::WindowHandle window, unsigned message,
                                        std::uintptr_t wParam, std::intptr_t lParam) {
    const bool sessionEnds =
        message == platform::kWmQueryEndSession || message == platform::kWmEndSession;
    if ((sessionEnds && lParam == 0) || message == platform::kWmQuit) {
        platform::DestroyWindow(window);
        if (g_service != nullptr) {
            g_service->Stop();
        }
        return 1;
    }
    return platform::DefaultWindowProcedure(window, message, wParam, lParam);
}

void CNTService::EnsureConsole() {
    if (m_consoleReady) {
        return;
    }
    platform::AttachConsole();
    m_consoleReady = true;
}

char* CNTService::FormatLastError(char* buffer, std::size_t size) {
    const std::optional<std::string> message = platform::LastErrorMessage();
    // The comparison counts the message's line end, which is then dropped.
    if (!message || size < message->size() + 14) {
        buffer[0] = '\0';
        return buffer;
    }
    const std::size_t length = message->size() >= 2 ? message->size() - 2 : 0;
    std::memcpy(buffer, message->data(), length);
    buffer[length] = '\0';
    return buffer;
}

bool CNTService::StartControlDispatcher() {
    if (!platform::StartServiceDispatcher(m_serviceName, ServiceMainEntry)) {
        char error[255];
        LogEvent(FormatLastError(error, sizeof error), platform::kEventError,
                 service_host::kDefaultEventId);
        return false;
    }
    return true;
}

void CNTService::ServiceMainEntry(std::uint32_t argc, char** argv) {
    CNTService* service = g_service;
    service->m_statusHandle =
        platform::RegisterControlHandler(service->m_serviceName, ServiceCtrlHandler);
    if (service->m_statusHandle == nullptr) {
        return;
    }
    if (service->SetStatus(service_host::kServiceStartPending, 3000, 0)) {
        service->Run(argc, argv);
    }
    service->SetStatus(service_host::kServiceStopped, 3000, 0);
}

void CNTService::ServiceCtrlHandler(std::uint32_t control) {
    using namespace service_host;
    CNTService* service = g_service;
    switch (control) {
        case kServiceControlStop:
            service->SetPendingState(kServiceStopPending);
            service->Stop();
            break;
        case kServiceControlPause:
            service->SetPendingState(kServicePausePending);
            service->Pause();
            break;
        case kServiceControlContinue:
            service->SetPendingState(kServiceContinuePending);
            service->Continue();
            break;
        case kServiceControlInterrogate: {
            std::uint32_t state;
            {
                std::lock_guard<std::mutex> lock(service->m_statusLock);
                state = service->m_status.currentState;
            }
            service->SetStatus(state, 3000, 0);
            break;
        }
        case kServiceControlShutdown:
            service->Shutdown();
            break;
        default:
            break;
    }
}

void CNTService::SetPendingState(std::uint32_t state) {
    // The state goes to the manager with the next report.
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_status.currentState = state;
}

bool CNTService::SetStatus(std::uint32_t state, std::uint32_t waitHint, std::uint32_t exitCode) {
    if (m_standalone) {
        return true;
    }
    bool accepted;
    {
        std::lock_guard<std::mutex> lock(m_statusLock);
        service_host::PrepareStatusReport(m_status, m_checkPoint, m_controlsAccepted, state,
                                          waitHint, exitCode);
        accepted = platform::ReportServiceStatus(m_statusHandle, m_status);
    }
    if (!accepted) {
        LogEvent("SetServiceStatus() failed", platform::kEventError, service_host::kDefaultEventId);
    }
    return accepted;
}

bool CNTService::InstallSelf() {
    EnsureConsole();
    char path[1024];
    if (!platform::ProgramFilePath(path, sizeof path - 1)) {
        char error[256];
        std::printf("Unable to install %s - %s\n", m_displayName,
                    FormatLastError(error, sizeof error));
        return false;
    }
    platform::ServiceManager* manager = OpenManager();
    if (manager == nullptr) {
        return false;
    }
    platform::ServiceConfig config;
    config.serviceName = m_serviceName;
    config.displayName = m_displayName;
    config.desiredAccess = m_desiredAccess;
    config.serviceType = m_serviceType;
    config.startType = m_startType;
    config.errorControl = m_errorControl;
    config.binaryPath = path;
    config.loadOrderGroup = m_loadOrderGroup;
    // Only drivers started at boot or by the system get a tag.
    const bool driver = m_serviceType == 1 || m_serviceType == 2;
    if (driver && (m_startType == 0 || m_startType == 1)) {
        config.tagId = &m_tagId;
    }
    config.dependencies = m_dependencies;
    config.accountName = m_accountName;
    config.password = m_password;
    platform::Service* service = platform::CreateService(manager, config);
    bool result = service != nullptr;
    if (result) {
        std::printf("%s installed.\n", m_displayName);
        platform::CloseService(service);
    } else {
        char error[256];
        std::printf("CreateService failed - %s\n", FormatLastError(error, sizeof error));
    }
    platform::CloseServiceManager(manager);
    if (result) {
        AddEventSource(path, kEventTypesSupported);
        LogEvent("Service installed", platform::kEventInformation, service_host::kDefaultEventId);
    }
    return result;
}

bool CNTService::RemoveSelf() {
    EnsureConsole();
    platform::ServiceManager* manager = OpenManager();
    if (manager == nullptr) {
        return false;
    }
    platform::Service* service = OpenInstalled(manager);
    if (service == nullptr) {
        return false;
    }
    // A service that is not running refuses the stop, and is removed all the same.
    if (platform::ControlService(service, service_host::kServiceControlStop, m_status)) {
        WaitForStop(service);
    }
    const bool result = platform::DeleteService(service);
    if (result) {
        std::printf("%s removed.\n", m_displayName);
    } else {
        char error[256];
        std::printf("DeleteService failed - %s\n", FormatLastError(error, sizeof error));
    }
    platform::CloseService(service);
    platform::CloseServiceManager(manager);
    if (result) {
        RemoveEventSource();
    }
    return result;
}

bool CNTService::StopInstalled() {
    platform::ServiceManager* manager = OpenManager();
    if (manager == nullptr) {
        return false;
    }
    platform::Service* service = OpenInstalled(manager);
    if (service == nullptr) {
        return false;
    }
    bool result = false;
    if (platform::ControlService(service, service_host::kServiceControlStop, m_status)) {
        result = WaitForStop(service);
    }
    platform::CloseService(service);
    platform::CloseServiceManager(manager);
    return result;
}

bool CNTService::StartInstalled() {
    platform::ServiceManager* manager = OpenManager();
    if (manager == nullptr) {
        return false;
    }
    platform::Service* service = OpenInstalled(manager);
    if (service == nullptr) {
        return false;
    }
    Print("Starting up %s.", m_displayName);
    if (!platform::StartService(service)) {
        char error[256];
        FormatLastError(error, sizeof error);
        Print("\n%s failed to start: %s\n", m_displayName, error);
        platform::CloseService(service);
        platform::CloseServiceManager(manager);
        return false;
    }
    WaitWhilePending(service, service_host::kServiceStartPending);
    const bool result = m_status.currentState == service_host::kServiceRunning;
    Print(result ? "\n%s started.\n" : "\n%s failed to start.\n", m_displayName);
    platform::CloseService(service);
    platform::CloseServiceManager(manager);
    return result;
}

platform::ServiceManager* CNTService::OpenManager() {
    platform::ServiceManager* manager = platform::OpenServiceManager();
    if (manager == nullptr) {
        char error[256];
        Print("OpenSCManager failed - %s\n", FormatLastError(error, sizeof error));
    }
    return manager;
}

platform::Service* CNTService::OpenInstalled(platform::ServiceManager* manager) {
    platform::Service* service = platform::OpenService(manager, m_serviceName, m_desiredAccess);
    if (service == nullptr) {
        char error[256];
        Print("OpenService failed - %s\n", FormatLastError(error, sizeof error));
        platform::CloseServiceManager(manager);
    }
    return service;
}

void CNTService::WaitWhilePending(platform::Service* service, std::uint32_t pendingState) {
    // A failed query leaves the state that was read last.
    platform::Sleep(kStatusPollInterval);
    while (platform::QueryServiceStatus(service, m_status) &&
           m_status.currentState == pendingState) {
        Print(".");
        platform::Sleep(kStatusPollInterval);
    }
}

bool CNTService::WaitForStop(platform::Service* service) {
    Print("Stopping %s.", m_displayName);
    WaitWhilePending(service, service_host::kServiceStopPending);
    const bool stopped = m_status.currentState == service_host::kServiceStopped;
    Print(stopped ? "\n%s stopped.\n" : "\n%s failed to stop.\n", m_displayName);
    return stopped;
}

void CNTService::Print(const char* format, ...) {
    // The dots of a wait appear as they happen, also when the output is no terminal.
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

void CNTService::AddEventSource(const char* messageFilePath, std::uint32_t typesSupported) {
    platform::AddEventSource(m_serviceName, messageFilePath, typesSupported);
}

void CNTService::RemoveEventSource() {
    platform::RemoveEventSource(m_serviceName);
}

bool CNTService::LogEvent(const char* text, std::uint32_t type, std::uint32_t id) {
    return platform::ReportEvent(m_serviceName, type, service_host::ChooseEventId(type, id),
                                 m_userSid.get(), text);
}
