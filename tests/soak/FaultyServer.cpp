#include "FaultyServer.h"

#include "TestSocket.h"

#include <chrono>
#include <cstdio>

namespace soak {

namespace {

using namespace dormane::test;

// How long a stalled answer waits for the client to give up before it closes anyway.
constexpr int kStallLimitMs = 20000;

bool SendAll(SocketHandle fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const long n = SendSome(fd, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SendText(SocketHandle fd, const std::string& text) {
    return SendAll(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Reads the request up to its blank line; the path does not matter.
bool ReadRequest(SocketHandle fd) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (!WaitReadable(fd, 5000))
            return false;
        const long n = ReceiveSome(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        request.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

FaultyServer::FaultyServer() {
    m_listener = ListenOnLoopback(m_port);
    if (m_listener == kNoSocket)
        return;
    m_thread = std::thread(&FaultyServer::Loop, this);
}

FaultyServer::~FaultyServer() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    CloseSocket(m_listener);
}

std::string FaultyServer::Serve(std::vector<uint8_t> body, Misbehaviour how) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_body = std::move(body);
    m_how = how;
    return "http://127.0.0.1:" + std::to_string(m_port) + "/image.bin";
}

void FaultyServer::Loop() {
    while (!m_stop) {
        if (!WaitReadable(m_listener, 100))
            continue;
        const SocketHandle connection = AcceptConnection(m_listener);
        if (connection == kNoSocket)
            continue;
        Answer(connection);
        CloseSocket(connection);
    }
}

void FaultyServer::Answer(dormane::test::SocketHandle connection) {
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
        if (WaitReadable(connection, 100)) {
            char byte;
            if (ReceiveSome(connection, &byte, 1) <= 0)
                return;
        }
    }
}

} // namespace soak
