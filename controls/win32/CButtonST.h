#pragma once

#include <windows.h>

#include <array>

#include "ButtonColorSlots.h"
#include "CSubclassWnd.h"

// A flat push button that draws itself (owner-drawn): a background colour per state (or,
// in transparent mode, the parent's pixels behind it), a one-pixel 3D outline while the
// pointer is over it or it is pressed, an optional image drawn at its own size with pure
// black as the key colour, and a centred, word-wrapped caption. Image and caption move by
// m_ptPressedShift while pressed.
//
// The button subclasses its window and its parent's: the parent's draw-item and
// control-colour requests for this button are answered here, so the parent's own
// procedure needs no part in it. User-interface thread only.
class CButtonST : public CSubclassWnd {
public:
    // Image of the hot state (index 0) and of the normal state (index 1).
    enum ImageIndex { IMAGE_HOT = 0, IMAGE_NORMAL = 1 };

    CButtonST();
    ~CButtonST() override;

    // Binds to a push button of a dialog: keeps every style bit except the button type,
    // which becomes owner-drawn. A default push button is remembered as the default.
    BOOL SubclassWindow(HWND button) override;
    // Gives the window back with the type it was bound with; the images stay.
    HWND UnsubclassWindow() override;

    // Stores the colour of one slot; out-of-range slots are ignored.
    void SetButtonColor(int slot, COLORREF colour, BOOL repaint = TRUE);
    COLORREF GetButtonColor(int slot) const;

    // Shows the parent's pixels behind the button instead of a background colour; drops
    // the cached copy of them so that it is taken again at the next drawing. Does not
    // repaint by itself.
    void SetTransparent();
    BOOL IsTransparent() const { return m_bTransparent; }

    // Whether the 3D outline is drawn while hot or pressed.
    void SetBorder(BOOL draw, BOOL repaint = TRUE);

    // Replaces both images; either may be null. The button owns both bitmaps from here on,
    // also when it fails. Returns 0 on success, 1 when a bitmap's size cannot be read, 2
    // when its mask cannot be made; on failure both images are removed. Repaints.
    int SetImages(HBITMAP hot, HBITMAP normal);

    // The cursor shown over the button, a cursor resource of the program (3001 is the
    // pointing hand). The previous one is destroyed.
    void SetHoverCursor(UINT cursorId, BOOL repaint = TRUE);
    HCURSOR GetHoverCursor() const { return m_hCursor; }

    // Draws the button for one owner-draw request.
    void DrawItem(const DRAWITEMSTRUCT& dis);

    BOOL IsHot() const { return m_bHot; }
    BOOL IsDefault() const { return m_bDefault; }
    POINT PressedShift() const { return m_ptPressedShift; }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    struct Image {
        HBITMAP hBitmap = nullptr;
        int width = 0;
        int height = 0;
        HBITMAP hMask = nullptr; // set where the image shows the key colour
    };

    static LRESULT CALLBACK ParentProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    void OnMouseMove(WPARAM wParam, LPARAM lParam);
    void CancelHover();
    void OnSysColorChange();
    void ResetColors();
    void Invalidate();
    void FreeImages();
    void FreeBackground();
    void PaintBackground(HDC hdc);
    void DrawImage(HDC hdc, const RECT& r);
    void DrawCaption(HDC hdc, const RECT& r);
    static HBITMAP CreateMask(HBITMAP source, int width, int height, COLORREF key);

    HWND m_hParent = nullptr;
    LONG_PTR m_nOriginalType = BS_PUSHBUTTON;

    POINT m_ptPressedShift{1, 1};
    BOOL m_bFlat = TRUE;
    BOOL m_bHot = FALSE;
    BOOL m_bTransparent = FALSE;
    BOOL m_bPressed = FALSE;
    BOOL m_bFocused = FALSE;
    BOOL m_bDefault = FALSE;
    BOOL m_bDrawBorder = TRUE;
    std::array<COLORREF, CLR_MAX_COLORS> m_crColors{};
    HCURSOR m_hCursor = nullptr;

    // Copy of the parent's pixels under the button, for transparent mode.
    HDC m_dcBk = nullptr;
    HBITMAP m_bmpBk = nullptr;
    HGDIOBJ m_bmpBkOld = nullptr;

    std::array<Image, 2> m_images;
};
