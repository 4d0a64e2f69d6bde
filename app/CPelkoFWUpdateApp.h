#pragma once

#include <QApplication>

// The application object: runs the wizard window modally; when the run ends, the process
// ends.
class CPelkoFWUpdateApp : public QApplication {
    Q_OBJECT
public:
    CPelkoFWUpdateApp(int& argc, char** argv);

    // Runs the wizard and destroys it. Returns false: there is no event loop of its own after.
    bool InitInstance();
    // The process's exit status once InitInstance has returned (CDlgBase::ExitCode).
    int ExitCode() const { return m_nExitCode; }

private:
    int m_nExitCode = 0;
};

// Constructs the wizard window, runs it modally and destroys it. Returns its exit status.
int RunWizard();
