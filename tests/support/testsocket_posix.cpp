// The tests' loopback sockets on Linux.
#include "TestSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dormane::test {

SocketHandle ListenOnLoopback(uint16_t& port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return kNoSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(s);
        return kNoSocket;
    }
    port = ntohs(addr.sin_port);
    return s;
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1;
}

SocketHandle AcceptConnection(SocketHandle listener) {
    const int connection = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return connection < 0 ? kNoSocket : connection;
}

long SendSome(SocketHandle socket, const void* data, std::size_t size) {
    // A client that went away must not end the test with SIGPIPE.
    return send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
}

long ReceiveSome(SocketHandle socket, void* buffer, std::size_t size) {
    return recv(static_cast<int>(socket), buffer, size, 0);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket)
        close(static_cast<int>(socket));
}

} // namespace dormane::test
