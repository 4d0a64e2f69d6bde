#pragma once

// While a burn runs, the process must not die of a signal it can catch: a terminal that
// closes, a pipe reader that goes away, a logout or a polite kill would otherwise leave the
// speaker with half an image. A shield turns those signals into a note and ignores a broken
// pipe (a failed write of progress is no failed burn). SIGKILL and power loss are beyond
// it; the burn journal covers them.
//
// One backend per platform: POSIX sigaction (engine/burnshield_posix.cpp), the console
// control handler on Windows (engine/burnshield_win32.cpp).
namespace dormane {

class BurnSignalShield {
public:
    // Installs the handlers; the previous ones come back with the last shield's end.
    BurnSignalShield();
    ~BurnSignalShield();

    BurnSignalShield(const BurnSignalShield&) = delete;
    BurnSignalShield& operator=(const BurnSignalShield&) = delete;
};

// The first signal that would have ended the process while a shield was up; 0 when none
// has. The front ends exit once the burn is over when it is set.
int ArrivedSignal();
void ClearArrivedSignal();

} // namespace dormane
