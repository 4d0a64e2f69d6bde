#include "WindowMessages.h"

#include <QCoreApplication>

QEvent::Type CWindowMessage::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostMessage(QObject* window, unsigned message, intptr_t wParam, intptr_t lParam) {
    auto* event = new CWindowMessage(message, wParam, lParam);
    event->Publish();
    QCoreApplication::postEvent(window, event);
}
