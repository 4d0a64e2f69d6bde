#include "CPageWarning.h"

#include "CStaticText.h"
#include "Controls.h"
#include "DialogTemplates.h"
#include "Modal.h"
#include "Palette.h"

#include <QApplication>

using namespace dormane::res;
namespace palette = dormane::palette;
using dormane::ui::IDCANCEL;
using dormane::ui::IDOK;

namespace {

struct WarningText {
    unsigned code;
    const char* title;
    const char* message;
    bool backShown;
    const char* back;  // caption of 1102
    const char* retry; // caption of 1100
};

// Note "Error Code:" in 101 and 102 but "Error Code :" in 103 and 104.
constexpr WarningText kWarnings[] = {
    {WARN_NO_SPEAKER, "Cannot Find Speaker",
     "Please make sure:\n - The speaker is switch ON\n - The USB cable is connected\n - The LED "
     "status light is Yellow\n(Error Code: 101)",
     true, "Back", "Retry"},
    {WARN_NO_NETWORK, "Network Missing",
     "Please make sure your computer is connected to the Internet\n(Error Code: 102)", true, "Back",
     "Retry"},
    {WARN_UPDATE_FAILED, "Setting Update Failed",
     "Please turn off the speaker and retry\n(Error Code : 103)", false, "Back", "Back"},
    {WARN_UNSUPPORTED, "Unsupported Speaker",
     "This tool ONLY supports the Tarvik Pelko ZURO.\nPlease make sure you have your Tarvik "
     "Pelko Zuro connected\n(Error Code : 104)",
     true, "Exit Tool", "Restart"},
};

const WarningText* Find(unsigned code) {
    for (const WarningText& w : kWarnings)
        if (w.code == code)
            return &w;
    return nullptr;
}

} // namespace

CPageWarning::CPageWarning(unsigned code, QWidget* parent)
    : CDialogEx(IDD_WARNING, parent ? parent : QApplication::activeWindow()), m_nCode(code),
      m_pStyle(std::make_unique<CPageEx>()) {}

CPageWarning::CPageWarning(const QString& message, QWidget* parent) : CPageWarning(0u, parent) {
    m_strTitle = dormane::ui::AppName();
    m_strMessage = message;
}

CPageWarning::~CPageWarning() = default;

bool CPageWarning::OnInitDialog() {
    m_btnBack = DlgItem<CButtonST>(IDC_WARN_BACK);
    m_btnRetry = DlgItem<CButtonST>(IDC_WARN_RETRY);
    m_stMessage = DlgItem<CStaticText>(IDC_WARN_MESSAGE);
    m_stTitle = DlgItem<CStaticText>(IDC_WARN_TITLE);
    connect(m_btnBack, &QAbstractButton::clicked, this, &CPageWarning::OnBnClickedBack);
    connect(m_btnRetry, &QAbstractButton::clicked, this, &CPageWarning::OnBnClickedRetry);

    SetBackgroundColor(palette::PageWhite(), true);
    SetFrame(FrameWidth(), palette::FrameBlue());
    StyleGreyButton(*m_btnRetry, m_pStyle->m_fontButton);
    StyleGreyButton(*m_btnBack, m_pStyle->m_fontButton);
    if (const WarningText* w = Find(m_nCode)) {
        m_strTitle = QString::fromUtf8(w->title);
        m_strMessage = QString::fromUtf8(w->message);
        m_stTitle->setText(m_strTitle);
        m_stMessage->setText(m_strMessage);
        m_btnBack->setVisible(w->backShown);
        m_btnBack->setText(QString::fromUtf8(w->back));
        m_btnRetry->setVisible(true);
        m_btnRetry->setText(QString::fromUtf8(w->retry));
    } else if (m_nCode == 0) {
        // A message: its one answer on the right-hand button.
        setWindowTitle(m_strTitle);
        m_stTitle->setText(m_strTitle);
        m_stMessage->setText(m_strMessage);
        m_btnBack->setVisible(false);
        m_btnRetry->setVisible(true);
        m_btnRetry->setText(QStringLiteral("OK"));
    }
    // The first button of the tab order takes the focus and answers Enter.
    m_btnRetry->setDefault(true);
    m_btnRetry->setFocus();
    return true;
}

void CPageWarning::OnBnClickedBack() {
    done(IDCANCEL);
}

void CPageWarning::OnBnClickedRetry() {
    switch (m_nCode) {
    case WARN_NO_SPEAKER:
    case WARN_NO_NETWORK:
    case WARN_UNSUPPORTED:
    case 0: // a message's OK
        done(IDOK);
        break;
    case WARN_UPDATE_FAILED:
        done(IDCANCEL);
        break;
    default:
        break; // an unknown code: only Back answers
    }
}

void CPageWarning::reject() {
    done(IDCANCEL);
}

std::optional<CDialogEx::CtlColor> CPageWarning::OnCtlColor(int id) const {
    if (id == IDC_WARN_TITLE)
        return CtlColor{palette::TextBlack(), &m_pStyle->m_fontHeading, std::nullopt};
    if (id == IDC_WARN_MESSAGE)
        return CtlColor{palette::TextBlack(), &m_pStyle->m_fontBody, std::nullopt};
    return std::nullopt;
}
