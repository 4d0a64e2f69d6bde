#include "CPelkoFWUpdateApp.h"

#include "CDlgBase.h"
#include "Modal.h"
#include "Resources.h"

CPelkoFWUpdateApp::CPelkoFWUpdateApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(dormane::ui::AppName());
    setApplicationVersion(DORMANE_VERSION);
    setWindowIcon(::res::AppIcon());
}

int RunWizard() {
    CDlgBase dialog;
    dialog.DoModal();
    return dialog.ExitCode();
}

bool CPelkoFWUpdateApp::InitInstance() {
    m_nExitCode = RunWizard();
    return false;
}
