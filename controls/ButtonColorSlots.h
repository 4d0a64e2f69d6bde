#pragma once

// Shared by the Qt and the Win32 buttons.
// Colour slots of a CButtonST, in this order.
enum ButtonColorSlot {
    CLR_BK_HOT = 0, // background while hot or pressed
    CLR_FG_HOT,     // caption while hot or pressed
    CLR_BK_NORMAL,  // background at rest
    CLR_FG_NORMAL,  // caption at rest
    CLR_BK_FOCUS,   // background at rest while focused
    CLR_FG_FOCUS,   // caption at rest while focused
    CLR_MAX_COLORS
};
