#include "Modal.h"

#include "CPageWarning.h"

#include <QDialog>

namespace dormane::ui {
namespace {

ModalHook& Hook() {
    static ModalHook hook;
    return hook;
}

} // namespace

QString AppName() {
    return QStringLiteral("Dormane");
}

ModalHook SetModalHook(ModalHook hook) {
    ModalHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

int RunModal(QDialog& dialog) {
    if (!Hook())
        return dialog.exec();
    // The same steps as a modal run without its event loop: a fresh result, shown over its
    // owner, hidden again afterwards.
    dialog.setResult(0);
    dialog.show();
    const ModalHook hook = Hook(); // the hook may replace itself
    hook(dialog);
    const int result = dialog.result();
    dialog.hide();
    return result;
}

void MessageBox(QWidget* owner, const QString& text) {
    // In the wizard's own look rather than the toolkit's stock box.
    CPageWarning box(text, owner);
    box.DoModal(); // builds the box from its template, then runs it through RunModal
}

} // namespace dormane::ui
