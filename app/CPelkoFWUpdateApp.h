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
};

// Constructs the wizard window, runs it modally and destroys it. Returns the modal result.
int RunWizard();
