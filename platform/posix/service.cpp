#include "platform/service.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/posix/errors_posix.h"
#include "platform/posix/service_posix.h"

namespace platform {

namespace {

// Service states and controls as the service manager's protocol numbers them.
constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStartPending = 2;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kRunning = 4;
constexpr std::uint32_t kContinuePending = 5;
constexpr std::uint32_t kPausePending = 6;
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kControlShutdown = 5;

constexpr const char kUnitDirectory[] = "/etc/systemd/system/";
constexpr const char kSystemd[] = "org.freedesktop.systemd1";
constexpr const char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr const char kManager[] = "org.freedesktop.systemd1.Manager";

}  // namespace

namespace posix {

std::string UnitName(std::string_view serviceName) {
    std::string unit;
    for (char c : serviceName) {
        unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return unit + ".service";
}

std::string UnitFileText(const ServiceConfig& config) {
    std::string text = "[Unit]\nDescription=";
    text += config.displayName != nullptr ? config.displayName : config.serviceName;
    // Stopped before the system bus, on which the service asks whether the system goes down.
    text +=
        "\nAfter=dbus.service\n\n[Service]\n"
        "Type=notify\n"
        "ExecStart=";
    text += config.binaryPath;
    // The program ends with 1 after it ran as a service.
    text += "\nSuccessExitStatus=1\nNoNewPrivileges=yes\n";
    if (config.accountName != nullptr) {
        text += "User=";
        text += config.accountName;
        text += "\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n";
    }
    text += "\n[Install]\nWantedBy=multi-user.target\n";
    return text;
}

std::string NotifyMessage(const ServiceStatus& status) {
    const std::string extend =
        "EXTEND_TIMEOUT_USEC=" + std::to_string(std::uint64_t{status.waitHint} * 1000) + "\n";
    const std::string checkPoint = ", check point " + std::to_string(status.checkPoint);
    switch (status.currentState) {
        case kStartPending:
            return extend + "STATUS=Starting" + checkPoint;
        case kRunning:
            return "READY=1\nSTATUS=Running";
        case kStopPending:
            return "STOPPING=1\n" + extend + "STATUS=Stopping" + checkPoint;
        case kStopped:
            return "STATUS=Stopped";
        case kPausePending:
            return extend + "STATUS=Pausing" + checkPoint;
        case kContinuePending:
            return extend + "STATUS=Continuing" + checkPoint;
        default:
            return "STATUS=Paused";
    }
}

std::uint32_t ServiceStateOf(std::string_view activeState) {
    if (activeState == "activating") {
        return kStartPending;
    }
    if (activeState == "active" || activeState == "reloading") {
        return kRunning;
    }
    if (activeState == "deactivating") {
        return kStopPending;
    }
    return kStopped;
}

}  // namespace posix

// Service mode. systemd starts the program as the service's unit; the main thread then stands in
// for the service manager's dispatcher: it runs the service main function on a thread of its own
// and turns SIGTERM into the stop control, or into the shutdown control while the system goes
// down.

namespace {

ServiceControlHandler g_controlHandler = nullptr;
// Wakes the dispatcher when the service main function has returned.
constexpr int kServiceEnded = SIGUSR2;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;

// The result of a bus call as the last error: the errno that the bus error stands for.
bool Failed(int result, sd_bus_error& error) {
    if (result >= 0) {
        sd_bus_error_free(&error);
        return false;
    }
    errno = sd_bus_error_is_set(&error) ? sd_bus_error_get_errno(&error) : -result;
    if (errno == 0) {
        errno = -result;
    }
    sd_bus_error_free(&error);
    return true;
}

bool SystemIsStopping() {
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0) {
        return false;
    }
    Bus bus(raw);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* state = nullptr;
    const int result = sd_bus_get_property_string(bus.get(), kSystemd, kManagerPath, kManager,
                                                  "SystemState", &error, &state);
    sd_bus_error_free(&error);
    const bool stopping = result >= 0 && std::strcmp(state, "stopping") == 0;
    std::free(state);
    return stopping;
}

bool StartedAsUnit(const char* serviceName) {
    // systemd gives each service an invocation id; the unit of the process says which service.
    if (std::getenv("INVOCATION_ID") == nullptr) {
        return false;
    }
    char* unit = nullptr;
    if (sd_pid_get_unit(0, &unit) < 0) {
        return false;
    }
    const bool ours = posix::UnitName(serviceName) == unit;
    std::free(unit);
    return ours;
}

}  // namespace

bool StartServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
    if (!StartedAsUnit(serviceName)) {
        errno = posix::kErrorNotStartedByServiceManager;
        return false;
    }
    // The controls arrive as signals, which only this thread takes.
    sigset_t controls;
    sigemptyset(&controls);
    sigaddset(&controls, SIGTERM);
    sigaddset(&controls, kServiceEnded);
    pthread_sigmask(SIG_BLOCK, &controls, nullptr);

    const pthread_t dispatcher = pthread_self();
    std::atomic<bool> ended{false};
    std::thread service([&] {
        // The service manager passes the service's name as the first argument.
        std::string name = serviceName;
        char* argv[] = {name.data(), nullptr};
        serviceMain(1, argv);
        ended = true;
        pthread_kill(dispatcher, kServiceEnded);
    });
    while (!ended) {
        int signal = 0;
        if (sigwait(&controls, &signal) != 0 || signal != SIGTERM) {
            continue;
        }
        if (g_controlHandler != nullptr) {
            g_controlHandler(SystemIsStopping() ? kControlShutdown : kControlStop);
        }
    }
    service.join();
    return true;
}

StatusHandle RegisterControlHandler(const char* /*serviceName*/, ServiceControlHandler handler) {
    g_controlHandler = handler;
    return reinterpret_cast<StatusHandle>(&g_controlHandler);
}

bool ReportServiceStatus(StatusHandle /*handle*/, const ServiceStatus& status) {
    const int result = sd_notify(0, posix::NotifyMessage(status).c_str());
    if (result > 0) {
        return true;
    }
    errno = result < 0 ? -result : posix::kErrorNotStartedByServiceManager;
    return false;
}

// The one-shot commands: systemd's manager on the system bus.

class ServiceManager {
public:
    Bus m_bus;

    // Calls a method of the manager; false (with the last error set) on failure.
    template <typename... Arguments>
    bool Call(const char* method, sd_bus_message** reply, const char* types,
              Arguments... arguments) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        return !Failed(sd_bus_call_method(m_bus.get(), kSystemd, kManagerPath, kManager, method,
                                          &error, reply, types, arguments...),
                       error);
    }

    bool Reload() { return Call("Reload", nullptr, ""); }
};

class Service {
public:
    ServiceManager* m_manager = nullptr;
    std::string m_unit;

    std::string UnitFile() const { return kUnitDirectory + m_unit; }

    // Asks the manager to start or stop the unit; the job runs on after the call.
    bool QueueJob(const char* method) {
        sd_bus_message* reply = nullptr;
        if (!m_manager->Call(method, &reply, "ss", m_unit.c_str(), "replace")) {
            return false;
        }
        sd_bus_message_unref(reply);
        return true;
    }

    // The unit's ActiveState; empty (with the last error set) when it cannot be read.
    std::string ActiveState() {
        sd_bus_message* reply = nullptr;
        if (!m_manager->Call("LoadUnit", &reply, "s", m_unit.c_str())) {
            return {};
        }
        const char* path = nullptr;
        std::string objectPath;
        if (sd_bus_message_read(reply, "o", &path) >= 0) {
            objectPath = path;
        }
        sd_bus_message_unref(reply);
        sd_bus_error error = SD_BUS_ERROR_NULL;
        char* state = nullptr;
        if (Failed(sd_bus_get_property_string(m_manager->m_bus.get(), kSystemd, objectPath.c_str(),
                                              "org.freedesktop.systemd1.Unit", "ActiveState",
                                              &error, &state),
                   error)) {
            return {};
        }
        std::string result = state;
        std::free(state);
        return result;
    }
};

ServiceManager* OpenServiceManager() {
    // Installing and controlling services is the administrator's business, as on every system
    // with a service manager.
    if (geteuid() != 0) {
        errno = EACCES;
        return nullptr;
    }
    sd_bus* raw = nullptr;
    if (const int result = sd_bus_open_system(&raw); result < 0) {
        errno = -result;
        return nullptr;
    }
    auto* manager = new ServiceManager;
    manager->m_bus.reset(raw);
    // The bus may be there without systemd behind it.
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (Failed(sd_bus_call_method(raw, kSystemd, kManagerPath, "org.freedesktop.DBus.Peer", "Ping",
                                  &error, nullptr, ""),
               error)) {
        const int saved = errno;
        delete manager;
        errno = saved;
        return nullptr;
    }
    return manager;
}

void CloseServiceManager(ServiceManager* manager) {
    delete manager;
}

Service* CreateService(ServiceManager* manager, const ServiceConfig& config) {
    if (config.accountName != nullptr && getpwnam(config.accountName) == nullptr) {
        errno = posix::kErrorInvalidServiceAccount;
        return nullptr;
    }
    auto service = std::make_unique<Service>();
    service->m_manager = manager;
    service->m_unit = posix::UnitName(config.serviceName);
    const std::string path = service->UnitFile();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) {
            errno = posix::kErrorServiceExists;
        }
        return nullptr;
    }
    const std::string text = posix::UnitFileText(config);
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeError = errno;
    close(fd);
    const char* units[] = {service->m_unit.c_str(), nullptr};
    sd_bus_message* call = nullptr;
    bool enabled = false;
    if (written &&
        sd_bus_message_new_method_call(manager->m_bus.get(), &call, kSystemd, kManagerPath,
                                       kManager, "EnableUnitFiles") >= 0 &&
        sd_bus_message_append_strv(call, const_cast<char**>(units)) >= 0 &&
        sd_bus_message_append(call, "bb", 0, 1) >= 0) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        enabled = !Failed(sd_bus_call(manager->m_bus.get(), call, 0, &error, nullptr), error) &&
                  manager->Reload();
    } else if (!written) {
        errno = writeError;
    }
    sd_bus_message_unref(call);
    if (!enabled) {
        // A unit that cannot be enabled is not left behind half installed.
        const int saved = errno;
        unlink(path.c_str());
        manager->Reload();
        errno = saved;
        return nullptr;
    }
    return service.release();
}

Service* OpenService(ServiceManager* manager, const char* serviceName,
                     std::uint32_t /*desiredAccess*/) {
    auto* service = new Service;
    service->m_manager = manager;
    service->m_unit = posix::UnitName(serviceName);
    if (access(service->UnitFile().c_str(), F_OK) != 0) {
        delete service;
        errno = posix::kErrorServiceDoesNotExist;
        return nullptr;
    }
    return service;
}

bool QueryServiceStatus(Service* service, ServiceStatus& status) {
    const std::string state = service->ActiveState();
    if (state.empty()) {
        return false;
    }
    status.currentState = posix::ServiceStateOf(state);
    return true;
}

bool ControlService(Service* service, std::uint32_t control, ServiceStatus& status) {
    if (control != kControlStop) {
        errno = EINVAL;
        return false;
    }
    if (!QueryServiceStatus(service, status)) {
        return false;
    }
    if (status.currentState == kStopped) {
        errno = posix::kErrorServiceNotActive;
        return false;
    }
    if (!service->QueueJob("StopUnit")) {
        return false;
    }
    status.currentState = kStopPending;
    return true;
}

bool StartService(Service* service) {
    ServiceStatus status;
    if (!QueryServiceStatus(service, status)) {
        return false;
    }
    if (status.currentState != kStopped) {
        errno = posix::kErrorServiceAlreadyRunning;
        return false;
    }
    return service->QueueJob("StartUnit");
}

bool DeleteService(Service* service) {
    const char* units[] = {service->m_unit.c_str(), nullptr};
    sd_bus_message* call = nullptr;
    sd_bus* bus = service->m_manager->m_bus.get();
    bool disabled = false;
    if (sd_bus_message_new_method_call(bus, &call, kSystemd, kManagerPath, kManager,
                                       "DisableUnitFiles") >= 0 &&
        sd_bus_message_append_strv(call, const_cast<char**>(units)) >= 0 &&
        sd_bus_message_append(call, "b", 0) >= 0) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        disabled = !Failed(sd_bus_call(bus, call, 0, &error, nullptr), error);
    }
    sd_bus_message_unref(call);
    if (!disabled) {
        return false;
    }
    if (unlink(service->UnitFile().c_str()) != 0) {
        return false;
    }
    return service->m_manager->Reload();
}

void CloseService(Service* service) {
    delete service;
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
