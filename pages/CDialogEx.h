#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QRect>

#include <map>
#include <optional>

namespace dormane::res {
struct DialogTemplate;
}

// A dialog built from one of the wizard's dialog templates: a pop-up window with a thin
// border, or a child page placed inside the main window. It fills its background with one
// colour, finds its controls by their template identifiers and asks its own control-colour
// handler how to draw each text.
class CDialogEx : public QDialog {
    Q_OBJECT
public:
    // The answer of the control-colour handler for one text control.
    struct CtlColor {
        QColor text;                // text colour
        const QFont* font;          // null: the template font
        std::optional<QColor> fill; // empty: nothing is painted behind the text (hollow)
    };

    CDialogEx(int templateId, QWidget* parent);
    ~CDialogEx() override;

    // Builds the window from its template (the controls, its size) and initialises it
    // (OnInitDialog). Only the first call does anything; false for an unknown template.
    bool Create();
    bool IsCreated() const { return m_bCreated; }
    // Creates the window and runs it modally; returns its result.
    int DoModal();

    int TemplateId() const { return m_nTemplateId; }
    const dormane::res::DialogTemplate* Template() const { return m_pTemplate; }

    // The control with that template identifier, or null.
    QWidget* GetDlgItem(int id) const;
    template <class T> T* DlgItem(int id) const { return dynamic_cast<T*>(GetDlgItem(id)); }
    // A control's rectangle in client coordinates (the frame excluded).
    QRect ItemRect(int id) const;
    // The client area in widget coordinates: the window without its frame.
    QRect ClientRect() const;
    // Redraws the part of the window under a control, background first.
    void InvalidateItem(int id);

    void SetBackgroundColor(const QColor& colour, bool repaint = true);
    QColor BackgroundColor() const { return m_crBackground; }
    // A border of this width painted around the client area (pop-up windows).
    void SetFrame(int width, const QColor& colour);
    int FrameWidth() const { return m_nFrame; }
    QColor FrameColour() const { return m_crFrame; }

    // How a text control of this dialog is drawn. Without an answer it keeps the template
    // font, black, on a transparent background.
    virtual std::optional<CtlColor> OnCtlColor(int id) const;

    // Window timers with the design's identifiers, on the window thread.
    void SetTimer(int id, int milliseconds);
    void KillTimer(int id);
    bool HasTimer(int id) const { return m_timers.count(id) != 0; }

protected:
    // Runs once, after the controls exist. The default sets the white page background.
    virtual bool OnInitDialog();
    virtual void OnTimer(int id);

    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_nTemplateId;
    const dormane::res::DialogTemplate* m_pTemplate;
    bool m_bCreated = false;
    QColor m_crBackground;
    int m_nFrame = 0;
    QColor m_crFrame;
    std::map<int, QWidget*> m_items; // template id -> control (children of this window)
    std::map<int, int> m_timers;     // design id -> Qt timer id
};
