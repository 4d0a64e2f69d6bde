#pragma once

#include "CDialogEx.h"
#include "CPageEx.h"

#include <memory>

class CButtonST;
class CStaticText;

// Warning codes: why the wizard cannot go on.
inline constexpr unsigned WARN_NO_SPEAKER = 101;
inline constexpr unsigned WARN_NO_NETWORK = 102;
inline constexpr unsigned WARN_UPDATE_FAILED = 103;
inline constexpr unsigned WARN_UNSUPPORTED = 104;

// The modal warning dialog: names the problem, tells the user what to check and offers two
// answers. It only reports the answer (IDOK or IDCANCEL); the wizard decides what follows.
class CPageWarning : public CDialogEx {
    Q_OBJECT
public:
    // Without a parent the active window becomes the owner.
    explicit CPageWarning(unsigned code, QWidget* parent = nullptr);
    // The program's own message box in the same look: the application's name as its title,
    // the text, and one OK button (answer IDOK). m_nCode is 0.
    CPageWarning(const QString& message, QWidget* parent);
    ~CPageWarning() override;

    std::optional<CtlColor> OnCtlColor(int id) const override;

    unsigned m_nCode;
    QString m_strTitle;
    QString m_strMessage;
    CButtonST* m_btnBack = nullptr;  // 1102
    CButtonST* m_btnRetry = nullptr; // 1100
    CStaticText* m_stMessage = nullptr;
    CStaticText* m_stTitle = nullptr;
    std::unique_ptr<CPageEx> m_pStyle;

public slots:
    void reject() override;

protected:
    bool OnInitDialog() override;
    void OnBnClickedBack();
    void OnBnClickedRetry();
};
