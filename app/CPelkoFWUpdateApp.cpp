#include "CPelkoFWUpdateApp.h"

#include "CDlgBase.h"
#include "Modal.h"

CPelkoFWUpdateApp::CPelkoFWUpdateApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(dormane::ui::AppName());
    setApplicationVersion(DORMANE_VERSION);
}

int RunWizard() {
    CDlgBase dialog;
    return dialog.DoModal();
}

bool CPelkoFWUpdateApp::InitInstance() {
    RunWizard();
    return false;
}
