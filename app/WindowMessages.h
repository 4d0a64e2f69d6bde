#pragma once

#include "WizardMessages.h"

#include <QEvent>

#include <cstdint>

class QObject;

// The wizard's window messages (WizardMessages.h) travel as Qt events carrying the message
// number and its two parameters; the window thread hands them to CDlgBase::WindowProc in
// the order they were posted.
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
