#include "platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/event.h"
#include "platform/posix/event_posix.h"

namespace platform {

class Socket {
public:
    int m_fd = -1;
};

namespace {

// Like the Windows socket layer, the sockets belong to the layer and are released with it.
std::vector<Socket*>& OpenSockets() {
    static std::vector<Socket*> sockets;
    return sockets;
}

}  // namespace

int StartSockets() {
    return 0;
}

void CleanupSockets() {
    for (Socket* socket : OpenSockets()) {
        close(socket->m_fd);
        delete socket;
    }
    OpenSockets().clear();
}

Socket* OpenUdpSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    auto* socket = new Socket;
    socket->m_fd = fd;
    OpenSockets().push_back(socket);
    return socket;
}

bool BindAnyAddress(Socket* socket, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(socket->m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void EnlargeReceiveBuffer(Socket* socket, int bytes) {
    // The privileged option may pass the system's limit; otherwise the system caps the request.
    if (setsockopt(socket->m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
        setsockopt(socket->m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
}

int WaitReadable(Socket* socket, Event* stop, unsigned milliseconds) {
    pollfd waits[2] = {{socket->m_fd, POLLIN, 0}, {stop->m_readEnd, POLLIN, 0}};
    const int ready = poll(waits, 2, static_cast<int>(milliseconds));
    if (ready < 0) {
        return -1;
    }
    return (waits[0].revents & (POLLIN | POLLERR)) != 0 ? 1 : 0;
}

long ReceiveDatagram(Socket* socket, char* buffer, std::size_t capacity, IPv4Address& sender) {
    sockaddr_in from{};
    iovec part{buffer, capacity};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t received = recvmsg(socket->m_fd, &message, MSG_DONTWAIT);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNoDatagram : -1;
    }
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        errno = EMSGSIZE;
        return -1;
    }
    std::memcpy(sender.data(), &from.sin_addr.s_addr, sender.size());
    return static_cast<long>(received);
}

}  // namespace platform
