#pragma once

#include <QEvent>

#include <cstdint>

class QObject;

// The window messages of the wizard. Worker threads post them to the main window as Qt events
// carrying the message number and its two parameters; the window thread handles them in
// CDlgBase::WindowProc, in the order they were posted.
inline constexpr unsigned WM_CLOSE = 0x0010;
inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_CHECK_DONE = WM_USER + 1;    // the device check has ended
inline constexpr unsigned WM_DOWNLOAD_DONE = WM_USER + 3; // the download has ended
inline constexpr unsigned WM_UPDATE_DONE = WM_USER + 4;   // the burn has ended
inline constexpr unsigned WM_NETTEST_DONE = WM_USER + 5;  // the network test has ended
// The power-cycle watch has ended: 1 when the speaker came back running the firmware just
// written, 0 when it did not within the wait (the user goes on with "Next").
inline constexpr unsigned WM_REPLUG_DONE = WM_USER + 6;

class CWindowMessage : public QEvent {
public:
    CWindowMessage(unsigned message, intptr_t wParam, intptr_t lParam)
        : QEvent(Type()), m_nMessage(message), m_wParam(wParam), m_lParam(lParam) {}

    static QEvent::Type Type();

    unsigned Message() const { return m_nMessage; }
    intptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    unsigned m_nMessage;
    intptr_t m_wParam;
    intptr_t m_lParam;
};

// Queues a message for the window; callable from any thread. The window must outlive the
// call.
void PostMessage(QObject* window, unsigned message, intptr_t wParam, intptr_t lParam);
