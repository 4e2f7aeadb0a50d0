// The console of console mode and the hidden window of background mode.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Console control events.
inline constexpr unsigned kCtrlCEvent = 0;      // Ctrl+C (SIGINT)
inline constexpr unsigned kCtrlBreakEvent = 1;  // Ctrl+Break (SIGQUIT, Ctrl+\, on a terminal)

// Attaches a console when the process has none and makes the standard streams unbuffered, so
// that every print reaches the console at once.
void AttachConsole();

// The echo of console and background mode. The text, whole lines, goes to standard output from a
// thread of its own through a bounded buffer, so that a console that stops reading (a pipe nobody
// drains, a terminal paused with Ctrl+S) never holds up the caller. When the buffer has no room
// for the text, it is dropped whole, and once the console reads again a line tells how many lines
// were not shown.
void Echo(std::string_view lines);

// Waits until the echo has written everything it holds, at most for the given time; for the end
// of the process, which must not wait for a console that never reads.
void DrainEcho(unsigned milliseconds);

// A console control handler: true when it handled the event; false leaves the event to the
// system's default, which ends the process.
using ConsoleHandler = bool (*)(unsigned ctrlType);

// Routes the console's Ctrl+C and Ctrl+Break events to the handler. The handler runs on a thread
// of its own, never inside a signal handler, so it may print.
bool AddConsoleHandler(ConsoleHandler handler);

// Window messages that the hidden window receives.
inline constexpr unsigned kWmQueryEndSession = 0x11;
inline constexpr unsigned kWmQuit = 0x12;
inline constexpr unsigned kWmEndSession = 0x16;
// lParam of the end-session messages when the user logs off rather than the system shutting down.
inline constexpr std::intptr_t kEndSessionLogoff = static_cast<std::intptr_t>(0x80000000u);

using WindowHandle = void*;
using WindowProcedure = std::intptr_t (*)(WindowHandle window, unsigned message,
                                          std::uintptr_t wParam, std::intptr_t lParam);

// Registers a window class with the procedure and creates one hidden window of it, which receives
// the session's end (system shutdown or user log-off). Null when it cannot be created.
WindowHandle CreateHiddenWindow(const char* className, WindowProcedure procedure);

void DestroyWindow(WindowHandle window);

std::intptr_t DefaultWindowProcedure(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                     std::intptr_t lParam);

// Marks the process as a service process, which runs on when the user logs off, where the system
// needs that; true when the system offers the call.
bool RegisterServiceProcess(bool service);

}  // namespace platform
