#include "WindowMessages.h"

#include "ThreadChecker.h"

#include <QCoreApplication>

QEvent::Type CWindowMessage::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void CWindowMessage::Publish() {
    dormane::HandOver(this);
}

void CWindowMessage::Receive(const QEvent* event) {
    dormane::TakeOver(event);
}

void PostMessage(QObject* window, unsigned message, intptr_t wParam, intptr_t lParam) {
    auto* event = new CWindowMessage(message, wParam, lParam);
    event->Publish();
    QCoreApplication::postEvent(window, event);
}
