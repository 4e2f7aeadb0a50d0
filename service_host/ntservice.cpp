#include "service_host/ntservice.h"

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
    return UseServiceManager();
}

bool CNTService::RemoveSelf() {
    EnsureConsole();
    return UseServiceManager();
}

bool CNTService::StopInstalled() {
    return UseServiceManager();
}

bool CNTService::StartInstalled() {
    return UseServiceManager();
}

bool CNTService::UseServiceManager() {
    platform::ServiceManager* manager = platform::OpenServiceManager();
    if (manager == nullptr) {
        char error[256];
        std::printf("OpenSCManager failed - %s\n", FormatLastError(error, sizeof error));
        return false;
    }
    // No service manager of this system lets itself be opened yet, so nothing is done here.
    platform::CloseServiceManager(manager);
    return false;
}

void CNTService::AddEventSource(const char* /*messageFilePath*/, std::uint32_t /*typesSupported*/) {
    // The journal needs no registration of a source: entries carry their identifier.
}

void CNTService::RemoveEventSource() {}

bool CNTService::LogEvent(const char* text, std::uint32_t type, std::uint32_t id) {
    return platform::ReportEvent(m_serviceName, type, service_host::ChooseEventId(type, id),
                                 m_userSid.get(), text);
}
