// Facts about the running system and the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// A security identifier of a user, as the event log records it with an entry.
using SecurityId = std::vector<std::uint8_t>;

// True where a service manager runs services (Windows NT and later, Linux with systemd).
bool HasServiceManager();

// A copy of the identifier of the user who runs the process, or null when the platform has none
// to attach to an event.
std::unique_ptr<SecurityId> CurrentUserSid();

// The directory that holds the daemon's configuration file, without a trailing separator.
std::string ConfigDirectory();

// The path of a file in a directory, with one separator between them.
inline std::string PathInDirectory(std::string directory, const char* name) {
    if (directory.empty() || directory.back() != kPathSeparator) {
        directory += kPathSeparator;
    }
    return directory + name;
}

// The directory for temporary files, ending with the path separator.
std::string TempDirectory();

// Suspends the calling thread.
void Sleep(unsigned milliseconds);

}  // namespace platform
