// The tests' loopback sockets on Windows (Winsock).
#include "TestSocket.h"

#include <winsock2.h>

#include <mutex>

namespace dormane::test {

namespace {

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

bool StartWinsock() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

} // namespace

SocketHandle ListenOnLoopback(uint16_t& port) {
    if (!StartWinsock())
        return kNoSocket;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    port = ntohs(addr.sin_port);
    return static_cast<SocketHandle>(s);
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
    WSAPOLLFD p{Native(socket), POLLRDNORM, 0};
    return WSAPoll(&p, 1, timeoutMs) == 1;
}

SocketHandle AcceptConnection(SocketHandle listener) {
    const SOCKET connection = accept(Native(listener), nullptr, nullptr);
    return connection == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(connection);
}

long SendSome(SocketHandle socket, const void* data, std::size_t size) {
    return send(Native(socket), static_cast<const char*>(data), static_cast<int>(size), 0);
}

long ReceiveSome(SocketHandle socket, void* buffer, std::size_t size) {
    return recv(Native(socket), static_cast<char*>(buffer), static_cast<int>(size), 0);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket)
        closesocket(Native(socket));
}

} // namespace dormane::test
