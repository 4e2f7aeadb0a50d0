// IPv4 datagram sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

class Event;
class Socket;

using IPv4Address = std::array<std::uint8_t, 4>;

// Starts the socket layer; 0 on success, else the system's error code, which is then also the
// last error.
int StartSockets();

// Releases the socket layer together with every socket opened since it was started.
void CleanupSockets();

// A new IPv4 datagram socket, or null (with the last error set) on failure.
Socket* OpenUdpSocket();

// Binds the socket to the port on all local IPv4 addresses; false (with the last error set) on
// failure.
bool BindAnyAddress(Socket* socket, std::uint16_t port);

// Asks for a receive queue of up to the given size, as large as the system allows below it.
void EnlargeReceiveBuffer(Socket* socket, int bytes);

// Waits up to the given time until the socket is readable or the event is signalled.
// Returns more than 0 when the socket is readable, 0 when the time ran out or the event was
// signalled, and -1 (with the last error set) on failure.
int WaitReadable(Socket* socket, Event* stop, unsigned milliseconds);

// What ReceiveDatagram returns when no datagram is queued.
inline constexpr long kNoDatagram = -2;

// Receives one datagram into the buffer without waiting. Returns its length; kNoDatagram when
// none is queued; -1 (with the last error set) when it could not be received or was longer than
// the capacity, in which case it is discarded whole.
long ReceiveDatagram(Socket* socket, char* buffer, std::size_t capacity, IPv4Address& sender);

}  // namespace platform
