#include "platform/clock.h"

#include <time.h>

namespace platform {

std::int64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
}

std::tm LocalTime(std::int64_t seconds) {
    const auto value = static_cast<time_t>(seconds);
    std::tm local{};
    localtime_r(&value, &local);
    return local;
}

std::int64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace platform
