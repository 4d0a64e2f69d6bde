#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

// Every modal run of the wizard (the warning dialog, the message boxes) goes through here, so
// that a test can answer a dialog instead of a user and never waits in a nested event loop.
namespace dormane::ui {

// The answers of the wizard's dialogs.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The application's name: the caption of every message box.
QString AppName();

// Called with the dialog shown (not modal) in place of its modal run; it answers by clicking
// a button or calling done(). The run then returns the dialog's result, 0 when unanswered.
using ModalHook = std::function<void(QDialog& dialog)>;

// Installs a hook (an empty one restores the modal runs). Returns the previous hook.
ModalHook SetModalHook(ModalHook hook);

// Runs the dialog modally and returns its result.
int RunModal(QDialog& dialog);

// A message box with an OK button only and the application's name as its caption and title,
// drawn as the warning dialog is. Returns once the user has closed it.
void MessageBox(QWidget* owner, const QString& text);

} // namespace dormane::ui
