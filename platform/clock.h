// The clock. Only the outermost layer reads it; the logic receives times as arguments.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Seconds since 1970-01-01 00:00:00 UTC.
std::int64_t Now();

// The local calendar time of a moment given in seconds since the epoch.
std::tm LocalTime(std::int64_t seconds);

// A steady clock in milliseconds, for intervals only.
std::int64_t MonotonicMilliseconds();

}  // namespace platform
