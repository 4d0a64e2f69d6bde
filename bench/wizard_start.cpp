// dormane-wizard-start: how long the wizard takes from the start of the program to the first
// paint of its start page, on the offscreen platform and the simulated speaker. It closes the
// wizard at that moment and prints the time, so that a loop over whole runs measures the
// same thing from outside.
#include "CDlgBase.h"
#include "Sim.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

using Steady = std::chrono::steady_clock;

// Notes the first paint of the start page and ends the modal run soon after.
class FirstPageWatch : public QObject {
public:
    explicit FirstPageWatch(CDlgBase& wizard) : m_wizard(wizard) {}
    std::optional<Steady::time_point> Painted() const { return m_painted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_painted && event->type() == QEvent::Paint &&
            watched == m_wizard.Page(CDlgBase::PAGE_START)) {
            m_painted = Steady::now();
            QTimer::singleShot(0, &m_wizard, [this] { m_wizard.RequestClose(); });
        }
        return false;
    }

private:
    CDlgBase& m_wizard;
    std::optional<Steady::time_point> m_painted;
};

} // namespace

int main(int argc, char** argv) {
    const Steady::time_point start = Steady::now();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string error;
    if (!dormane::sim::InstallSimulatedSpeaker("clock=virtual", error)) {
        std::fprintf(stderr, "dormane-wizard-start: %s\n", error.c_str());
        return 2;
    }
    QApplication app(argc, argv);
    std::optional<Steady::time_point> painted;
    {
        CDlgBase wizard;
        FirstPageWatch watch(wizard);
        app.installEventFilter(&watch);
        // A wizard that never paints its start page must not keep the loop running.
        QTimer::singleShot(10000, &wizard, [&wizard] { wizard.RequestClose(); });
        wizard.DoModal();
        app.removeEventFilter(&watch);
        painted = watch.Painted();
    }
    if (!painted) {
        std::fprintf(stderr, "dormane-wizard-start: the start page was never painted\n");
        return 1;
    }
    std::printf("first page after %.1f ms\n",
                std::chrono::duration<double, std::milli>(*painted - start).count());
    return 0;
}
