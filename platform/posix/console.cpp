#include "platform/console.h"

#include <pthread.h>
#include <signal.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

void AttachConsole() {
    // A process started from a terminal already has one; only the buffering needs to change.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

namespace {

// The echo's buffer: a few MiB, enough for seconds of records at full speed.
constexpr std::size_t kEchoCapacity = 4 * 1024 * 1024;

class EchoWriter {
public:
    void Append(std::string_view lines) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_started) {
            // A console whose reader went away ends the writes with an error, not the process.
            ::signal(SIGPIPE, SIG_IGN);
            // The writer takes no signal: they are left to the threads that wait for them.
            sigset_t all;
            sigset_t previous;
            sigfillset(&all);
            pthread_sigmask(SIG_SETMASK, &all, &previous);
            std::thread([this] { WriteLoop(); }).detach();
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            m_started = true;
        }
        if (m_dropped > 0) {
            if (!Fits(Notice().size() + lines.size())) {
                m_dropped += LineCount(lines);
                return;
            }
            AddNotice();
        } else if (!Fits(lines.size())) {
            m_dropped += LineCount(lines);
            return;
        }
        const bool wake = m_pending.empty() && !m_writing;
        m_pending.append(lines);
        if (wake) {
            m_work.notify_one();
        }
    }

    void Drain(unsigned milliseconds) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_idle.wait_for(lock, std::chrono::milliseconds(milliseconds),
                        [this] { return m_pending.empty() && !m_writing && m_dropped == 0; });
    }

private:
    bool Fits(std::size_t size) const {
        return m_pending.size() + m_inFlight + size <= kEchoCapacity;
    }

    static std::size_t LineCount(std::string_view lines) {
        return std::max<std::size_t>(
            1, static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')));
    }

    std::string Notice() const {
        return "... " + std::to_string(m_dropped) + " lines not shown.\n";
    }

    void AddNotice() {
        m_pending.append(Notice());
        m_dropped = 0;
    }

    void WriteLoop() {
        std::string out;
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_work.wait(lock, [this] { return !m_pending.empty(); });
            out.swap(m_pending);
            m_inFlight = out.size();
            m_writing = true;
            lock.unlock();
            WriteAll(out);
            out.clear();
            lock.lock();
            m_inFlight = 0;
            m_writing = false;
            // The console reads again: it learns what it missed before anything newer.
            if (m_dropped > 0 && Fits(Notice().size())) {
                AddNotice();
            }
            if (m_pending.empty()) {
                m_idle.notify_all();
            }
        }
    }

    static void WriteAll(std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;  // No console to show it on.
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    std::mutex m_lock;
    std::condition_variable m_work;
    std::condition_variable m_idle;
    std::string m_pending;
    std::size_t m_inFlight = 0;
    std::size_t m_dropped = 0;
    bool m_writing = false;
    bool m_started = false;
};

// Never destroyed: the writer may still be blocked on the console when the process ends.
EchoWriter& TheEchoWriter() {
    static EchoWriter* writer = new EchoWriter;
    return *writer;
}

}  // namespace

void Echo(std::string_view lines) {
    TheEchoWriter().Append(lines);
}

void DrainEcho(unsigned milliseconds) {
    TheEchoWriter().Drain(milliseconds);
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
