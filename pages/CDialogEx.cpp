#include "CDialogEx.h"

#include "DialogTemplates.h"
#include "Modal.h"
#include "Palette.h"
#include "TemplateBuilder.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

namespace {

Qt::WindowFlags FlagsFor(const dormane::res::DialogTemplate* t) {
    if (t && t->popup)
        return Qt::Dialog | Qt::FramelessWindowHint;
    return Qt::Widget;
}

} // namespace

CDialogEx::CDialogEx(int templateId, QWidget* parent)
    : QDialog(parent, FlagsFor(dormane::res::FindDialogTemplate(templateId))),
      m_nTemplateId(templateId), m_pTemplate(dormane::res::FindDialogTemplate(templateId)),
      m_crBackground(dormane::palette::PageWhite()) {
    // QDialog makes every widget without a window type a dialog window; a page is a child.
    if (!m_pTemplate || !m_pTemplate->popup)
        setWindowFlags(Qt::Widget);
}

CDialogEx::~CDialogEx() = default;

bool CDialogEx::Create() {
    if (m_bCreated)
        return true;
    if (!m_pTemplate)
        return false;
    m_bCreated = true;
    if (m_pTemplate->popup)
        SetFrame(1, dormane::palette::WindowFrame());
    m_items = dormane::ui::BuildControls(*this, *m_pTemplate, QPoint(m_nFrame, m_nFrame));
    const QSize client = dormane::ui::DialogUnitsToPixels(m_pTemplate->cx, m_pTemplate->cy);
    resize(client.width() + 2 * m_nFrame, client.height() + 2 * m_nFrame);
    OnInitDialog();
    return true;
}

int CDialogEx::DoModal() {
    if (!Create())
        return -1;
    // Centred over the owner. Left to Qt, a window shown where no window manager reports
    // frame sizes would be placed by guessed frame sizes instead.
    if (isWindow() && parentWidget()) {
        const QRect owner = parentWidget()->window()->frameGeometry();
        move(owner.x() + (owner.width() - width()) / 2,
             owner.y() + (owner.height() - height()) / 2);
    }
    return dormane::ui::RunModal(*this);
}

bool CDialogEx::OnInitDialog() {
    SetBackgroundColor(dormane::palette::PageWhite(), true);
    return true;
}

QWidget* CDialogEx::GetDlgItem(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QRect CDialogEx::ItemRect(int id) const {
    const QWidget* item = GetDlgItem(id);
    if (!item)
        return {};
    return item->geometry().translated(-m_nFrame, -m_nFrame);
}

QRect CDialogEx::ClientRect() const {
    return rect().adjusted(m_nFrame, m_nFrame, -m_nFrame, -m_nFrame);
}

void CDialogEx::InvalidateItem(int id) {
    if (QWidget* item = GetDlgItem(id)) {
        update(item->geometry());
        item->update();
    }
}

void CDialogEx::SetBackgroundColor(const QColor& colour, bool repaint) {
    m_crBackground = colour;
    if (repaint)
        update();
}

void CDialogEx::SetFrame(int width, const QColor& colour) {
    m_nFrame = width;
    m_crFrame = colour;
    update();
}

std::optional<CDialogEx::CtlColor> CDialogEx::OnCtlColor(int) const {
    return std::nullopt;
}

void CDialogEx::SetTimer(int id, int milliseconds) {
    KillTimer(id);
    m_timers[id] = startTimer(milliseconds);
}

void CDialogEx::KillTimer(int id) {
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    killTimer(it->second);
    m_timers.erase(it);
}

void CDialogEx::OnTimer(int) {}

void CDialogEx::timerEvent(QTimerEvent* event) {
    for (const auto& [id, qtId] : m_timers) {
        if (qtId == event->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QDialog::timerEvent(event);
}

void CDialogEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_crBackground);
    if (m_nFrame > 0) {
        const int w = width(), h = height(), f = m_nFrame;
        painter.fillRect(0, 0, w, f, m_crFrame);
        painter.fillRect(0, h - f, w, f, m_crFrame);
        painter.fillRect(0, 0, f, h, m_crFrame);
        painter.fillRect(w - f, 0, f, h, m_crFrame);
    }
}

void CDialogEx::keyPressEvent(QKeyEvent* event) {
    // A page inside the main window leaves Escape and Enter to the main window, as a child
    // dialog does; only a top-level dialog ends on them.
    if (!isWindow()) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDialogEx::mousePressEvent(QMouseEvent* event) {
    // A page is a window of its own: a press on it does not reach the main window below.
    if (!isWindow()) {
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}
