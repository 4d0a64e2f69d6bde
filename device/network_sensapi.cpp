// The network test on Windows: the system's own answer, from SensAPI.
#include "Network.h"

#include <windows.h>

#include <sensapi.h>

namespace dormane {

int IsNetworkAlive() {
    DWORD kinds = 0;
    return ::IsNetworkAlive(&kinds) ? kNetworkAlive : kNetworkDown;
}

} // namespace dormane
