// Error codes of the POSIX back end beyond the system's errno values.
#pragma once

namespace platform::posix {

// Chosen far above every errno value of the system.
inline constexpr int kErrorNotStartedByServiceManager = 0x10001;
// The service manager's answers, worded as the service control manager words them.
inline constexpr int kErrorServiceExists = 0x10004;
inline constexpr int kErrorServiceDoesNotExist = 0x10005;
inline constexpr int kErrorServiceNotActive = 0x10006;
inline constexpr int kErrorServiceAlreadyRunning = 0x10007;
inline constexpr int kErrorInvalidServiceAccount = 0x10008;
// A file that the programs read or write is a FIFO, a device or a socket.
inline constexpr int kErrorNotRegularFile = 0x10003;

}  // namespace platform::posix
