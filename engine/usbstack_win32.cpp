// The USB stack of the Windows build, as the support report names it.
#include "UsbBackend.h"

namespace dormane {

std::string UsbStackVersion() {
    return "WinUSB";
}

} // namespace dormane
