#include "platform/console.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace platform {

void AttachConsole() {
    // A process started from a terminal already has one; only the buffering needs to change.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

namespace {

// Blocks the signals in the calling thread, and so in every thread started after it, and hands
// each delivery to the callback on a thread of its own. Must run before any other thread starts.
template <typename Callback>
void WatchSignals(std::initializer_list<int> signals, Callback callback) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : signals) {
        sigaddset(&set, signal);
    }
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, callback] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) == 0) {
                callback(signal);
            }
        }
    }).detach();
}

// Lets the system's default action take a signal that the callback left alone.
void RaiseDefault(int signal) {
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal);
}

}  // namespace

bool AddConsoleHandler(ConsoleHandler handler) {
    WatchSignals({SIGINT, SIGQUIT}, [handler](int signal) {
        const unsigned event = signal == SIGINT ? kCtrlCEvent : kCtrlBreakEvent;
        if (!handler(event)) {
            RaiseDefault(signal);
        }
    });
    return true;
}

namespace {

struct HiddenWindow {
    WindowProcedure procedure;
    std::atomic<bool> destroyed{false};
};

}  // namespace

WindowHandle CreateHiddenWindow(const char* /*className*/, WindowProcedure procedure) {
    // The session's end reaches a background process as signals: SIGTERM when the system shuts
    // down, SIGHUP when the user's session ends. They become the end-session messages that a
    // hidden window receives.
    auto* window = new HiddenWindow{procedure};
    WatchSignals({SIGTERM, SIGHUP}, [window](int signal) {
        const std::intptr_t reason = signal == SIGTERM ? 0 : kEndSessionLogoff;
        for (unsigned message : {kWmQueryEndSession, kWmEndSession}) {
            if (!window->destroyed.load()) {
                window->procedure(window, message, 1, reason);
            }
        }
    });
    return window;
}

void DestroyWindow(WindowHandle window) {
    static_cast<HiddenWindow*>(window)->destroyed = true;
}

std::intptr_t DefaultWindowProcedure(WindowHandle, unsigned, std::uintptr_t, std::intptr_t) {
    return 0;
}

bool RegisterServiceProcess(bool /*service*/) {
    return false;
}

}  // namespace platform
