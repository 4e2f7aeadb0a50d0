// UDP on the loopback interface, for tests that talk to a socket under test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

namespace loopback {

// A UDP port that was free a moment ago.
inline std::uint16_t FreeUdpPort() {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

// Sends one datagram to 127.0.0.1 at the port, from the given loopback address.
inline void SendDatagram(std::uint16_t port, std::string_view bytes,
                         const char* from = "127.0.0.1") {
    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, from, &source.sin_addr);
    bind(sender, reinterpret_cast<sockaddr*>(&source), sizeof source);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(sender, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&target),
           sizeof target);
    close(sender);
}

}  // namespace loopback
