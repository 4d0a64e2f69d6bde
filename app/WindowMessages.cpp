#include "WindowMessages.h"

#include "ThreadChecker.h"

#include <QCoreApplication>

QEvent::Type CWindowMessage::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostMessage(QObject* window, unsigned message, intptr_t wParam, intptr_t lParam) {
    auto* event = new CWindowMessage(message, wParam, lParam);
    // The window thread reads the event after Qt's queue, whose lock the thread checker
    // cannot see; the window takes it over before it reads its type.
    dormane::HandOver(event);
    QCoreApplication::postEvent(window, event);
}
