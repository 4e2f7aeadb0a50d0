#include "platform/system.h"

#include <cstdlib>
#include <ctime>

namespace platform {

bool HasServiceManager() {
    return true;
}

std::unique_ptr<SecurityId> CurrentUserSid() {
    // The journal records the user of every entry itself (_UID), so no identifier is attached.
    return nullptr;
}

std::string ConfigDirectory() {
    const char* dir = std::getenv("QUENBY_CONFDIR");
    std::string result = (dir != nullptr && *dir != '\0') ? dir : "/etc";
    while (result.size() > 1 && result.back() == kPathSeparator) {
        result.pop_back();
    }
    return result;
}

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string result = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
    if (result.back() != kPathSeparator) {
        result += kPathSeparator;
    }
    return result;
}

void Sleep(unsigned milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0) {
    }
}

}  // namespace platform
