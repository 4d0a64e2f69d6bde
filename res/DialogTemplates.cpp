#include "DialogTemplates.h"

#include <algorithm>

namespace dormane::res {
namespace {

using K = CtlKind;
using A = TextAlign;

// Main window. The order is the creation order: later controls lie above earlier ones, so
// the buttons and the brand picture sit on top of the grey bottom bar.
constexpr ControlTemplate kMain[] = {
    {IDC_BOTTOM_BAR, K::Text, "", 0, 0, 306, 684, 37, A::LeftWrap},
    {IDC_STEP_STRIP, K::Text, "", 0, 0, 286, 684, 20, A::LeftWrap},
    {IDC_TITLE_STRIP, K::Text, "", 0, 0, 0, 684, 20, A::LeftWrap},
    {IDC_TITLE, K::Text, "Dormane", 0, 51, 4, 120, 12, A::LeftSingle},
    {IDC_CLOSE, K::Button, "", 0, 664, 5, 10, 10, A::Center},
    {IDC_BACK, K::Button, "Back", 0, 460, 316, 104, 20, A::Center},
    {IDC_NEXT, K::Button, "Next", 0, 567, 316, 104, 20, A::Center},
    {IDC_LOGO, K::Bitmap, "", IDB_LOGO, 11, 5, 31, 10, A::LeftWrap},
    {IDC_BRAND, K::Bitmap, "", IDB_BRAND, 16, 317, 93, 20, A::LeftWrap},
    {IDC_STEP1, K::Button, "1", 0, 619, 291, 9, 12, A::Center},
    {IDC_STEP2, K::Button, "2", 0, 635, 291, 9, 12, A::Center},
    {IDC_STEP3, K::Button, "3", 0, 651, 291, 9, 12, A::Center},
    {IDC_STEP4, K::Button, "4", 0, 665, 291, 9, 12, A::Center},
};

constexpr ControlTemplate kStart[] = {
    {IDC_HEADING, K::Text, "Welcome to the Dormane", 0, 197, 25, 292, 27, A::LeftSingle},
    {IDC_BODY, K::Text,
     "This tool will guide you how to enable or disable auto-standby for your Tarvik Pelko "
     "Zuro speakers ",
     0, 197, 63, 292, 48, A::LeftWrap},
    {IDC_PICTURE, K::Bitmap, "", IDB_SPEAKERS, 261, 120, 159, 146, A::LeftWrap},
};

constexpr ControlTemplate kStep1[] = {
    {IDC_HEADING, K::Text, "Before proceeding, please make sure the following:", 0, 159, 25, 382,
     30, A::LeftSingle},
    {IDC_TEXT, K::Text,
     "1. Speaker is connected to power\n"
     "2. Speaker is connected to a computer with a live internet connection\n"
     "3. Speaker is on and in USB mode (LED indicator is solid yellow)",
     0, 159, 60, 382, 46, A::LeftWrap},
    {IDC_PICTURE, K::Bitmap, "", IDB_PANEL_LIGHT, 201, 133, 282, 118, A::LeftWrap},
};

constexpr ControlTemplate kCheck[] = {
    {IDC_HEADING, K::Text, "Checking current setting", 0, 250, 60, 190, 30, A::Center},
    {IDC_ANIMATION, K::AnimatedPicture, "", IDR_BUSY_GIF, 312, 113, 60, 44, A::LeftWrap},
};

constexpr ControlTemplate kStep2[] = {
    {IDC_HEADING, K::Text, "Select auto-standby mode", 0, 158, 26, 358, 30, A::LeftSingle},
    {IDC_ENABLE, K::Button, "", 0, 156, 80, 118, 108, A::Center},
    {IDC_DISABLE, K::Button, "", 0, 376, 78, 120, 111, A::Center},
    {IDC_ENABLE_LABEL, K::Text, "Enable Auto-Standby", 0, 157, 193, 144, 20, A::LeftSingle},
    {IDC_DISABLE_LABEL, K::Text, "Disable Auto-Standby", 0, 376, 193, 168, 20, A::LeftSingle},
    {IDC_ENABLE_TEXT, K::Text, "Speaker will go to standby when it is idle for 20 min", 0, 157, 217,
     145, 48, A::LeftWrap},
    {IDC_DISABLE_TEXT, K::Text,
     "Speaker will NOT go to standby and need to be powered off manually", 0, 376, 217, 167, 49,
     A::LeftWrap},
};

constexpr ControlTemplate kStep3[] = {
    {IDC_HEADING, K::Text, "Updating your setting\u2026", 0, 218, 66, 247, 26, A::LeftSingle},
    {IDC_DO_NOT_TURN_OFF, K::Text, "DO NOT turn off the speaker", 0, 238, 111, 227, 22,
     A::LeftSingle},
    {IDC_WARNING_ICON, K::Bitmap, "", IDB_WARNING, 218, 117, 15, 13, A::LeftWrap},
    {IDC_PERCENT, K::Text, "0%", 0, 448, 156, 24, 8, A::Right},
    {IDC_PROGRESS, K::Progress, "", 0, 216, 156, 230, 6, A::LeftWrap},
};

constexpr ControlTemplate kStep4[] = {
    {IDC_HEADING, K::Text, "One more step\u2026 ", 0, 202, 52, 291, 23, A::LeftSingle},
    {IDC_TEXT, K::Text, "Please power off and on the speaker to apply the new setting", 0, 202, 83,
     291, 18, A::LeftSingle},
    {IDC_POWER_PICTURE, K::Bitmap, "", IDB_PANEL_POWER, 226, 129, 227, 84, A::LeftWrap},
};

constexpr ControlTemplate kFinish[] = {
    {IDC_HEADING, K::Text, "Auto-Standby has been disabled.", 0, 220, 113, 284, 20, A::LeftWrap},
    {IDC_BODY, K::Text, "You may now close the tool.", 0, 220, 133, 284, 20, A::LeftWrap},
};

// Tab order 1101, 1103, 1100, 1102: Retry comes before Back, so it takes the first focus.
constexpr ControlTemplate kWarning[] = {
    {IDC_WARN_TITLE, K::Text, "", 0, 30, 10, 200, 30, A::LeftSingle},
    {IDC_WARN_MESSAGE, K::Text, "", 0, 10, 44, 220, 72, A::LeftWrap},
    {IDC_WARN_RETRY, K::Button, "Retry", 0, 144, 116, 80, 20, A::Center},
    {IDC_WARN_BACK, K::Button, "Back", 0, 59, 116, 80, 20, A::Center},
    {kNoId, K::Bitmap, "", IDB_WARNING, 10, 19, 19, 13, A::LeftWrap},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_PAGE_START, 684, 267, false, kStart}, {IDD_PAGE_STEP1, 684, 267, false, kStep1},
    {IDD_PAGE_STEP2, 684, 267, false, kStep2}, {IDD_PAGE_STEP3, 684, 267, false, kStep3},
    {IDD_PAGE_STEP4, 684, 267, false, kStep4}, {IDD_PAGE_FINISH, 684, 288, false, kFinish},
    {IDD_MAIN, 684, 344, true, kMain},         {IDD_PAGE_CHECK, 684, 288, false, kCheck},
    {IDD_WARNING, 240, 151, true, kWarning},
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    auto it = std::find_if(std::begin(kTemplates), std::end(kTemplates),
                           [id](const DialogTemplate& t) { return t.id == id; });
    return it == std::end(kTemplates) ? nullptr : &*it;
}

std::span<const DialogTemplate> AllDialogTemplates() {
    return kTemplates;
}

} // namespace dormane::res
