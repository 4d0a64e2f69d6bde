#pragma once

#include <cstddef>
#include <cstdint>

// Plain TCP on the loopback for the tests' own servers, one file per platform
// (testsocket_posix.cpp, testsocket_win32.cpp).
namespace dormane::test {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A listening socket on 127.0.0.1 with a port the system chose; kNoSocket on failure.
SocketHandle ListenOnLoopback(uint16_t& port);
// True when a read (or an accept) would not block within the time.
bool WaitReadable(SocketHandle socket, int timeoutMs);
SocketHandle AcceptConnection(SocketHandle listener);
// Bytes sent or received; 0 at the peer's end, negative on an error.
long SendSome(SocketHandle socket, const void* data, std::size_t size);
long ReceiveSome(SocketHandle socket, void* buffer, std::size_t size);
void CloseSocket(SocketHandle socket);

} // namespace dormane::test
