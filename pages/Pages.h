#pragma once

#include "CDialogEx.h"
#include "CPageEx.h"

#include <memory>

class CButtonST;
class CProgressEx;
class CPictureEx;
class CStaticText;

// The seven content pages of the wizard. Each builds itself from its template as a child of
// the main window and keeps its own font set. They hold no logic of the update: the mode
// page knows the mode selected, the progress page the percentage, the finish page its text.

class CPageStart : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageStart(QWidget* parent);
    ~CPageStart() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    std::unique_ptr<CPageEx> m_pStyle;
};

class CPageStep1 : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageStep1(QWidget* parent);
    ~CPageStep1() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    std::unique_ptr<CPageEx> m_pStyle;
};

class CPageCheck : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageCheck(QWidget* parent);
    ~CPageCheck() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    std::unique_ptr<CPageEx> m_pStyle;
    CPictureEx* m_picture = nullptr; // the busy animation, 1098

protected:
    bool OnInitDialog() override;
};

class CPageStep2 : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageStep2(QWidget* parent);
    ~CPageStep2() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    // Selects a mode: TRUE enables auto-standby. Swaps the option images and recolours the
    // option texts.
    void SetMode(bool bEnable);
    bool GetMode() const { return m_bEnable; }

    std::unique_ptr<CPageEx> m_pStyle;
    CButtonST* m_btnEnable = nullptr;  // 3038
    CButtonST* m_btnDisable = nullptr; // 1082
    CStaticText* m_stEnable = nullptr;
    CStaticText* m_stDisable = nullptr;
    CStaticText* m_stEnableText = nullptr;
    CStaticText* m_stDisableText = nullptr;
    bool m_bEnable = false;

protected:
    bool OnInitDialog() override;
};

class CPageStep3 : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageStep3(QWidget* parent);
    ~CPageStep3() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    // Shows the burn progress, 0 to 100, on the bar and as "N%".
    void SetProgress(int nPercent);

    std::unique_ptr<CPageEx> m_pStyle;
    CProgressEx* m_progress = nullptr;  // 3000
    CStaticText* m_stPercent = nullptr; // 1090

protected:
    bool OnInitDialog() override;
};

class CPageStep4 : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageStep4(QWidget* parent);
    ~CPageStep4() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    std::unique_ptr<CPageEx> m_pStyle;
};

class CPageFinish : public CDialogEx {
    Q_OBJECT
public:
    explicit CPageFinish(QWidget* parent);
    ~CPageFinish() override;
    std::optional<CtlColor> OnCtlColor(int id) const override;

    // Names the mode that was written.
    void ShowResult(bool bEnabled);

    std::unique_ptr<CPageEx> m_pStyle;
    CStaticText* m_stHeading = nullptr; // 3052

protected:
    bool OnInitDialog() override;
};
