// The burn's signal shield on POSIX.
#include "BurnShield.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace dormane {

namespace {

// Every signal whose default action ends the process and that an outsider sends: a
// terminal, a session, a pipe, a timer or another program. Faults (SIGSEGV, SIGABRT ...)
// are not on the list: they come from this process itself.
constexpr int kNoted[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGALRM, SIGUSR1,
                          SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPOLL};
// Ignored outright: a write to a closed pipe fails with EPIPE instead, and a burn must
// not be stopped half-way by a terminal's suspend key either.
constexpr int kIgnored[] = {SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU};

// Lock-free, so safe in a handler, and seen by the thread that asks without a data race.
std::atomic<int> g_arrived{0};
static_assert(std::atomic<int>::is_always_lock_free);

std::mutex g_mutex;
int g_shields = 0;
struct sigaction g_saved[sizeof kNoted / sizeof kNoted[0] + sizeof kIgnored / sizeof kIgnored[0]];

void Note(int signal) {
    int none = 0;
    g_arrived.compare_exchange_strong(none, signal);
}

} // namespace

BurnSignalShield::BurnSignalShield() {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_shields++ > 0)
        return;
    struct sigaction note {};
    note.sa_handler = Note;
    sigemptyset(&note.sa_mask);
    note.sa_flags = SA_RESTART;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    size_t slot = 0;
    for (int signal : kNoted)
        sigaction(signal, &note, &g_saved[slot++]);
    for (int signal : kIgnored)
        sigaction(signal, &ignore, &g_saved[slot++]);
}

BurnSignalShield::~BurnSignalShield() {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (--g_shields > 0)
        return;
    size_t slot = 0;
    for (int signal : kNoted)
        sigaction(signal, &g_saved[slot++], nullptr);
    for (int signal : kIgnored)
        sigaction(signal, &g_saved[slot++], nullptr);
}

int ArrivedSignal() {
    return g_arrived.load();
}

void ClearArrivedSignal() {
    g_arrived.store(0);
}

} // namespace dormane
