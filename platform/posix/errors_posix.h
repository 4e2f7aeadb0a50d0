// Error codes of the POSIX back end beyond the system's errno values.
#pragma once

namespace platform::posix {

// Chosen far above every errno value of the system.
inline constexpr int kErrorNotStartedByServiceManager = 0x10001;
inline constexpr int kErrorNoServiceControl = 0x10002;
// A file that the programs read or write is a FIFO, a device or a socket.
inline constexpr int kErrorNotRegularFile = 0x10003;

}  // namespace platform::posix
