// The service host: one program that runs under the service manager, in a console, in the
// background, or as a one-shot command that installs, removes, starts or stops the service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/console.h"
#include "platform/service.h"
#include "platform/system.h"

class CNTService {
public:
    CNTService(const char* serviceName, const char* displayName);
    ~CNTService();

    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // The virtual operations, in the order of their slots.
    virtual void Run(std::uint32_t argc, char** argv) = 0;
    virtual void Stop() = 0;
    virtual void Pause() {}
    virtual void Continue() {}
    virtual void Shutdown() {}
    virtual std::uint32_t DispatchCommandLine(int argc, char** argv);
    virtual bool StartControlDispatcher();
    virtual bool InstallSelf();
    virtual bool RemoveSelf();
    virtual bool StopInstalled();
    virtual bool StartInstalled();
    virtual std::uint32_t RunStandalone(int argc, char** argv, bool hidden);
    virtual void AddEventSource(const char* messageFilePath, std::uint32_t typesSupported);
    virtual void RemoveEventSource();
    virtual bool LogEvent(const char* text, std::uint32_t type, std::uint32_t id);

    // Reports the service's state to the service manager; does nothing outside it.
    bool SetStatus(std::uint32_t state, std::uint32_t waitHint, std::uint32_t exitCode);
    void EnsureConsole();
    // The text of the calling thread's last system error, without its line end; empty when the
    // system has none or it does not fit the buffer with room to spare.
    char* FormatLastError(char* buffer, std::size_t size);

    static void ServiceMainEntry(std::uint32_t argc, char** argv);
    static void ServiceCtrlHandler(std::uint32_t control);
    static bool ConsoleCtrlHandler(unsigned ctrlType);
    static std::intptr_t HiddenWndProc(platform::WindowHandle window, unsigned message,
                                       std::uintptr_t wParam, std::intptr_t lParam);

    const char* m_serviceName;
    const char* m_displayName;
    std::uint32_t m_checkPoint = 0;
    bool m_standalone = false;
    platform::ServiceStatus m_status;
    platform::StatusHandle m_statusHandle = nullptr;
    std::uint32_t m_controlsAccepted = 1;
    std::unique_ptr<platform::SecurityId> m_userSid;
    bool m_isNT = false;
    bool m_consoleReady = false;
    std::uint32_t m_desiredAccess = 0xF01FF;
    std::uint32_t m_serviceType = 0x10;
    std::uint32_t m_startType = 2;
    std::uint32_t m_errorControl = 1;
    const char* m_loadOrderGroup = nullptr;
    std::uint32_t m_tagId = 0;
    const char* m_dependencies = nullptr;
    const char* m_accountName = nullptr;
    const char* m_password = nullptr;

private:
    void SetPendingState(std::uint32_t state);
    // Opens the service manager for the one-shot commands, or prints why it cannot be opened.
    platform::ServiceManager* OpenManager();
    // Opens the installed service, or prints why it cannot be opened and closes the manager.
    platform::Service* OpenInstalled(platform::ServiceManager* manager);
    // Polls the service's status into m_status once a second, printing a dot for each poll
    // that still finds the pending state.
    void WaitWhilePending(platform::Service* service, std::uint32_t pendingState);
    // The wait after an accepted stop request; true when the service stopped.
    bool WaitForStop(platform::Service* service);
    // Prints at once, whatever standard output is.
    static void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Reports from the service thread and from the control handler are built and sent one at a
    // time.
    std::mutex m_statusLock;
};

// The one service object of the process.
extern CNTService* g_service;
