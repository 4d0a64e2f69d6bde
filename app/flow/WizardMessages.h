#pragma once

#include <cstdint>

// The window messages of the wizard. Worker threads post them to the main window with two
// parameters; the window thread hands them to CWizardFlow::WindowProc in the order they
// were posted.
inline constexpr unsigned WM_CLOSE = 0x0010;
inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_CHECK_DONE = WM_USER + 1;    // the device check has ended
inline constexpr unsigned WM_DOWNLOAD_DONE = WM_USER + 3; // the download has ended
inline constexpr unsigned WM_UPDATE_DONE = WM_USER + 4;   // the burn has ended
inline constexpr unsigned WM_NETTEST_DONE = WM_USER + 5;  // the network test has ended
// The power-cycle watch has ended: 1 when the speaker came back running the firmware just
// written, 0 when it did not within the wait (the user goes on with "Next").
inline constexpr unsigned WM_REPLUG_DONE = WM_USER + 6;
