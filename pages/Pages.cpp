#include "Pages.h"

#include "CStaticText.h"
#include "Controls.h"
#include "DialogTemplates.h"
#include "Palette.h"

using namespace dormane::res;
namespace palette = dormane::palette;

namespace {

// One row of a page's control-colour table.
struct TextStyle {
    int id;
    QColor colour;
    QFont CPageEx::*font;
};

std::optional<CDialogEx::CtlColor> Lookup(std::initializer_list<TextStyle> table, int id,
                                          const CPageEx& style) {
    for (const TextStyle& row : table)
        if (row.id == id)
            return CDialogEx::CtlColor{row.colour, &(style.*row.font), std::nullopt};
    return std::nullopt;
}

} // namespace

// --- welcome -------------------------------------------------------------------------------

CPageStart::CPageStart(QWidget* parent)
    : CDialogEx(IDD_PAGE_START, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageStart::~CPageStart() = default;

std::optional<CDialogEx::CtlColor> CPageStart::OnCtlColor(int id) const {
    return Lookup({{IDC_HEADING, palette::TextBlack(), &CPageEx::m_fontHeading},
                   {IDC_BODY, palette::TextBlack(), &CPageEx::m_fontBody}},
                  id, *m_pStyle);
}

// --- prerequisites -------------------------------------------------------------------------

CPageStep1::CPageStep1(QWidget* parent)
    : CDialogEx(IDD_PAGE_STEP1, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageStep1::~CPageStep1() = default;

std::optional<CDialogEx::CtlColor> CPageStep1::OnCtlColor(int id) const {
    return Lookup({{IDC_HEADING, palette::TextBlack(), &CPageEx::m_fontHeading},
                   {IDC_TEXT, palette::TextBlack(), &CPageEx::m_fontBody}},
                  id, *m_pStyle);
}

// --- check ---------------------------------------------------------------------------------

CPageCheck::CPageCheck(QWidget* parent)
    : CDialogEx(IDD_PAGE_CHECK, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageCheck::~CPageCheck() = default;

bool CPageCheck::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_picture = DlgItem<CPictureEx>(IDC_ANIMATION);
    return true;
}

std::optional<CDialogEx::CtlColor> CPageCheck::OnCtlColor(int id) const {
    return Lookup({{IDC_HEADING, palette::TextBlack(), &CPageEx::m_fontHeading}}, id, *m_pStyle);
}

// --- mode ----------------------------------------------------------------------------------

CPageStep2::CPageStep2(QWidget* parent)
    : CDialogEx(IDD_PAGE_STEP2, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageStep2::~CPageStep2() = default;

bool CPageStep2::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_btnEnable = DlgItem<CButtonST>(IDC_ENABLE);
    m_btnDisable = DlgItem<CButtonST>(IDC_DISABLE);
    m_stEnable = DlgItem<CStaticText>(IDC_ENABLE_LABEL);
    m_stDisable = DlgItem<CStaticText>(IDC_DISABLE_LABEL);
    m_stEnableText = DlgItem<CStaticText>(IDC_ENABLE_TEXT);
    m_stDisableText = DlgItem<CStaticText>(IDC_DISABLE_TEXT);
    connect(m_btnEnable, &QAbstractButton::clicked, this, [this] { SetMode(true); });
    connect(m_btnDisable, &QAbstractButton::clicked, this, [this] { SetMode(false); });
    return true;
}

void CPageStep2::SetMode(bool bEnable) {
    m_bEnable = bEnable;
    // Each state of a button gets its own copy of the bitmap.
    const int enableImage = bEnable ? IDB_ENABLE_ON : IDB_ENABLE_OFF;
    const int disableImage = bEnable ? IDB_DISABLE_OFF : IDB_DISABLE_ON;
    m_btnEnable->SetImages(LoadBitmap(enableImage), LoadBitmap(enableImage));
    m_btnDisable->SetImages(LoadBitmap(disableImage), LoadBitmap(disableImage));
    for (CButtonST* button : {m_btnEnable, m_btnDisable}) {
        button->SetTransparent();
        button->SetBorder(false, true);
        button->SetHoverCursor(IDR_HAND_CURSOR, true);
    }
    for (int id : {IDC_ENABLE_LABEL, IDC_ENABLE_TEXT, IDC_DISABLE_LABEL, IDC_DISABLE_TEXT})
        InvalidateItem(id);
}

std::optional<CDialogEx::CtlColor> CPageStep2::OnCtlColor(int id) const {
    // Decided at drawing time, so any repaint shows the current selection.
    const QColor enable = m_bEnable ? palette::AccentBlue() : palette::OptionGrey();
    const QColor disable = m_bEnable ? palette::OptionGrey() : palette::AccentBlue();
    return Lookup({{IDC_HEADING, palette::TextBlack(), &CPageEx::m_fontHeading},
                   {IDC_ENABLE_LABEL, enable, &CPageEx::m_fontOption},
                   {IDC_ENABLE_TEXT, enable, &CPageEx::m_fontOptionText},
                   {IDC_DISABLE_LABEL, disable, &CPageEx::m_fontOption},
                   {IDC_DISABLE_TEXT, disable, &CPageEx::m_fontOptionText}},
                  id, *m_pStyle);
}

// --- progress ------------------------------------------------------------------------------

CPageStep3::CPageStep3(QWidget* parent)
    : CDialogEx(IDD_PAGE_STEP3, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageStep3::~CPageStep3() = default;

bool CPageStep3::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_progress = DlgItem<CProgressEx>(IDC_PROGRESS);
    m_stPercent = DlgItem<CStaticText>(IDC_PERCENT);
    return true;
}

void CPageStep3::SetProgress(int nPercent) {
    m_progress->setValue(nPercent);
    m_stPercent->setText(QStringLiteral("%1%").arg(nPercent));
    // The label is transparent: the page repaints behind it so no old digit remains.
    InvalidateItem(IDC_PERCENT);
}

std::optional<CDialogEx::CtlColor> CPageStep3::OnCtlColor(int id) const {
    return Lookup({{IDC_HEADING, palette::TextBlack(), &CPageEx::m_fontHeading},
                   {IDC_DO_NOT_TURN_OFF, palette::AlertRed(), &CPageEx::m_fontBody}},
                  id, *m_pStyle);
}

// --- power cycle ---------------------------------------------------------------------------

CPageStep4::CPageStep4(QWidget* parent)
    : CDialogEx(IDD_PAGE_STEP4, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageStep4::~CPageStep4() = default;

std::optional<CDialogEx::CtlColor> CPageStep4::OnCtlColor(int id) const {
    return Lookup({{IDC_HEADING, palette::TextBlack(), &CPageEx::m_fontHeading},
                   {IDC_TEXT, palette::TextBlack(), &CPageEx::m_fontBody}},
                  id, *m_pStyle);
}

// --- finish --------------------------------------------------------------------------------

CPageFinish::CPageFinish(QWidget* parent)
    : CDialogEx(IDD_PAGE_FINISH, parent), m_pStyle(std::make_unique<CPageEx>()) {}

CPageFinish::~CPageFinish() = default;

bool CPageFinish::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_stHeading = DlgItem<CStaticText>(IDC_HEADING);
    return true;
}

void CPageFinish::ShowResult(bool bEnabled) {
    m_stHeading->setText(bEnabled ? QStringLiteral("Auto-Standby has been enabled.")
                                  : QStringLiteral("Auto-Standby has been disabled."));
}

std::optional<CDialogEx::CtlColor> CPageFinish::OnCtlColor(int id) const {
    return Lookup({{IDC_HEADING, palette::AccentBlue(), &CPageEx::m_fontResult},
                   {IDC_BODY, palette::TextBlack(), &CPageEx::m_fontResultText}},
                  id, *m_pStyle);
}
