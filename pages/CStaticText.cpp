#include "CStaticText.h"

#include "CDialogEx.h"
#include "TemplateBuilder.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

CStaticText::CStaticText(int id, const QString& text, dormane::res::TextAlign align,
                         CDialogEx* owner)
    : QWidget(owner), m_nId(id), m_strText(text), m_align(align), m_pOwner(owner) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void CStaticText::setText(const QString& text) {
    if (text == m_strText)
        return;
    m_strText = text;
    update();
}

int CStaticText::DrawFlags(dormane::res::TextAlign align) {
    using dormane::res::TextAlign;
    switch (align) {
    case TextAlign::LeftWrap:
        return Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    case TextAlign::LeftSingle:
        return Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    case TextAlign::Center:
        return Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
    case TextAlign::Right:
        return Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine;
    }
    return Qt::AlignLeft;
}

QFont CStaticText::FittingFont(const QFont& font) const {
    // The layouts were made for a narrower face than the stand-ins: a single line that does
    // not fit its control is drawn a little condensed rather than cut off.
    if (m_align == dormane::res::TextAlign::LeftWrap || m_strText.isEmpty())
        return font;
    const int needed = QFontMetrics(font).horizontalAdvance(m_strText);
    if (needed <= width() || needed <= 0)
        return font;
    QFont condensed = font;
    condensed.setStretch(std::max(kMinStretch, 100 * width() / needed));
    return condensed;
}

void CStaticText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const auto answer = m_pOwner ? m_pOwner->OnCtlColor(m_nId) : std::nullopt;
    if (answer && answer->fill)
        painter.fillRect(rect(), *answer->fill);
    if (m_strText.isEmpty())
        return;
    painter.setFont(
        FittingFont(answer && answer->font ? *answer->font : dormane::ui::TemplateFont()));
    painter.setPen(answer ? answer->text : QColor(Qt::black));
    painter.drawText(rect(), DrawFlags(m_align), m_strText);
}
