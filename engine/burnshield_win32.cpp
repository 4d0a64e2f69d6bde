// The burn's shield on Windows: Ctrl-C, Ctrl-Break and the console's close, logoff and
// shutdown events are noted instead of ending the process. A closing console or a shutdown
// is held up for as long as the burn runs, within the few seconds Windows allows.
#include "BurnShield.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

namespace dormane {

namespace {

std::atomic<int> g_arrived{0};
std::atomic<int> g_shields{0};
std::mutex g_mutex;

int SignalOf(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGBREAK;
    default:
        return SIGTERM; // close, logoff, shutdown
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (g_shields.load() == 0)
        return FALSE; // the handlers before the shield's decide
    int none = 0;
    g_arrived.compare_exchange_strong(none, SignalOf(event));
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Returning would let Windows end the process at once; waiting here keeps the burn going
    // until it is over or Windows stops waiting.
    while (g_shields.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return FALSE;
}

} // namespace

BurnSignalShield::BurnSignalShield() {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_shields.fetch_add(1) == 0)
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

BurnSignalShield::~BurnSignalShield() {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_shields.fetch_sub(1) == 1)
        SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

int ArrivedSignal() {
    return g_arrived.load();
}

void ClearArrivedSignal() {
    g_arrived.store(0);
}

} // namespace dormane
