#pragma once

// Windows and drawing surfaces for the tests of the Win32 controls: a parent window that
// paints itself in one colour and records the commands it gets, and a 32-bit memory
// drawing context whose pixels can be read back.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace wintest {

// A top-level pop-up (or a hidden one) that erases itself in its colour and keeps the
// WM_COMMAND notifications it receives.
class ParentWindow {
public:
    ParentWindow(int x, int y, int width, int height, COLORREF colour, bool visible = true);
    ~ParentWindow();
    ParentWindow(const ParentWindow&) = delete;
    ParentWindow& operator=(const ParentWindow&) = delete;

    HWND hwnd() const { return m_hWnd; }
    // Changes the colour and repaints at once.
    void SetColour(COLORREF colour);
    COLORREF Colour() const { return m_colour; }
    // (control id, notification code) of every WM_COMMAND so far.
    const std::vector<std::pair<int, int>>& Commands() const { return m_commands; }

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND m_hWnd = nullptr;
    COLORREF m_colour;
    std::vector<std::pair<int, int>> m_commands;
};

// A top-down 32-bit DIB selected into a memory context, filled with one colour.
class MemoryCanvas {
public:
    MemoryCanvas(int width, int height, COLORREF fill);
    ~MemoryCanvas();
    MemoryCanvas(const MemoryCanvas&) = delete;
    MemoryCanvas& operator=(const MemoryCanvas&) = delete;

    HDC dc() const { return m_dc; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    COLORREF Pixel(int x, int y) const;
    // The smallest rectangle holding every pixel that differs from the colour; empty when
    // there is none.
    RECT BoundsOfPixelsOtherThan(COLORREF colour) const;

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    std::uint32_t* m_bits = nullptr;
    int m_width;
    int m_height;
};

// A 24-bit DIB section of one colour with an optional rectangle of another; the caller owns
// it.
HBITMAP MakeBitmap(int width, int height, COLORREF fill, RECT inner = {}, COLORREF innerColour = 0);

// Processes the messages waiting for this thread.
void PumpMessages();

} // namespace wintest
