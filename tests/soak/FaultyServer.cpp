#include "FaultyServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace soak {

namespace {

// How long a stalled answer waits for the client to give up before it closes anyway.
constexpr int kStallLimitMs = 20000;

bool SendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SendText(int fd, const std::string& text) {
    return SendAll(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Reads the request up to its blank line; the path does not matter.
bool ReadRequest(int fd) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        request.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

FaultyServer::FaultyServer() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(s, 8) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (s >= 0)
            close(s);
        return;
    }
    m_listener = s;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread(&FaultyServer::Loop, this);
}

FaultyServer::~FaultyServer() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        close(m_listener);
}

std::string FaultyServer::Serve(std::vector<uint8_t> body, Misbehaviour how) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_body = std::move(body);
    m_how = how;
    return "http://127.0.0.1:" + std::to_string(m_port) + "/image.bin";
}

void FaultyServer::Loop() {
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, 100) != 1)
            continue;
        const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        Answer(connection);
        close(connection);
    }
}

void FaultyServer::Answer(int connection) {
    if (!ReadRequest(connection))
        return;
    std::vector<uint8_t> body;
    Misbehaviour how;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        body = m_body;
        how = m_how;
    }
    const std::string status = how == Misbehaviour::Status404 ? "404 Not Found" : "200 OK";
    if (!SendText(connection, "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream" +
                                  "\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\nConnection: close\r\n\r\n"))
        return;
    if (how == Misbehaviour::None || how == Misbehaviour::Status404) {
        SendAll(connection, body.data(), body.size());
        return;
    }
    SendAll(connection, body.data(), body.size() / 2);
    if (how == Misbehaviour::CutShort)
        return;
    // Stall: nothing more until the client closes (or the stop).
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStallLimitMs);
    while (!m_stop && std::chrono::steady_clock::now() < until) {
        pollfd p{connection, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
            char byte;
            if (recv(connection, &byte, 1, 0) <= 0)
                return;
        }
    }
}

} // namespace soak
