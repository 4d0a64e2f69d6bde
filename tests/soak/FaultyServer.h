#pragma once

#include "TestSocket.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A plain-HTTP server on 127.0.0.1 for the soak's download faults: it answers every request
// with the body it was given, in the way it was told to misbehave. One connection at a time.
namespace soak {

enum class Misbehaviour {
    None,      // 200, the whole body
    Status404, // 404 with the body as its page
    CutShort,  // 200, Content-Length of the whole body, half of it, then the connection ends
    Stall,     // 200, half of the body, then nothing until the client gives up
};

class FaultyServer {
public:
    FaultyServer();
    ~FaultyServer();
    FaultyServer(const FaultyServer&) = delete;
    FaultyServer& operator=(const FaultyServer&) = delete;

    bool Listening() const { return m_listener != dormane::test::kNoSocket; }
    // The URL of the next answer; every request gets it until Serve is called again.
    std::string Serve(std::vector<uint8_t> body, Misbehaviour how);

private:
    void Loop();
    void Answer(dormane::test::SocketHandle connection);

    dormane::test::SocketHandle m_listener = dormane::test::kNoSocket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<uint8_t> m_body;
    Misbehaviour m_how = Misbehaviour::None;
    std::thread m_thread;
};

} // namespace soak
