#pragma once

#include "DialogTemplates.h"

#include <QWidget>

class CDialogEx;

// A static text control. It asks its dialog's control-colour handler for colour, font and
// background each time it draws, so a repaint always shows the dialog's current choice.
// Presses on it go on to the window below, as on a static control.
class CStaticText : public QWidget {
    Q_OBJECT
public:
    CStaticText(int id, const QString& text, dormane::res::TextAlign align, CDialogEx* owner);

    int Id() const { return m_nId; }
    QString text() const { return m_strText; }
    void setText(const QString& text);
    dormane::res::TextAlign Align() const { return m_align; }
    // The Qt alignment and wrapping flags the template's alignment stands for.
    static int DrawFlags(dormane::res::TextAlign align);
    // The font a single line is drawn with: the given one, condensed (down to 85 %) when the
    // line would not fit the control's width.
    QFont FittingFont(const QFont& font) const;
    static constexpr int kMinStretch = 85;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_nId;
    QString m_strText;
    dormane::res::TextAlign m_align;
    CDialogEx* m_pOwner;
};
