#include "Win32TestSupport.h"

#include <algorithm>

namespace wintest {
namespace {

constexpr wchar_t kParentClass[] = L"DormaneTestParent";

void RegisterParentClass(WNDPROC proc) {
    static const ATOM atom = [proc] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.lpszClassName = kParentClass;
        return RegisterClassW(&wc);
    }();
    (void)atom;
}

} // namespace

ParentWindow::ParentWindow(int x, int y, int width, int height, COLORREF colour, bool visible)
    : m_colour(colour) {
    RegisterParentClass(&ParentWindow::Proc);
    m_hWnd =
        CreateWindowExW(0, kParentClass, L"test parent", WS_POPUP | (visible ? WS_VISIBLE : 0), x,
                        y, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (m_hWnd != nullptr) {
        UpdateWindow(m_hWnd);
    }
}

ParentWindow::~ParentWindow() {
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) {
        DestroyWindow(m_hWnd);
    }
}

void ParentWindow::SetColour(COLORREF colour) {
    m_colour = colour;
    RedrawWindow(m_hWnd, nullptr, nullptr,
                 RDW_ERASE | RDW_INVALIDATE | RDW_ERASENOW | RDW_UPDATENOW);
}

LRESULT CALLBACK ParentWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<ParentWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr) {
        switch (msg) {
        case WM_ERASEBKGND: {
            RECT r{};
            GetClientRect(hwnd, &r);
            HBRUSH brush = CreateSolidBrush(self->m_colour);
            FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
            DeleteObject(brush);
            return TRUE;
        }
        case WM_COMMAND:
            self->m_commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_NCDESTROY:
            self->m_hWnd = nullptr;
            break;
        default:
            break;
        }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

MemoryCanvas::MemoryCanvas(int width, int height, COLORREF fill)
    : m_width(width), m_height(height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_dc = CreateCompatibleDC(nullptr);
    m_bitmap = CreateDIBSection(m_dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<std::uint32_t*>(bits);
    m_old = SelectObject(m_dc, m_bitmap);
    HBRUSH brush = CreateSolidBrush(fill);
    const RECT all{0, 0, width, height};
    FillRect(m_dc, &all, brush);
    DeleteObject(brush);
    GdiFlush();
}

MemoryCanvas::~MemoryCanvas() {
    SelectObject(m_dc, m_old);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
}

COLORREF MemoryCanvas::Pixel(int x, int y) const {
    GdiFlush();
    const std::uint32_t v = m_bits[static_cast<std::size_t>(y) * m_width + x];
    // The DIB holds blue, green, red from the low byte up.
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

RECT MemoryCanvas::BoundsOfPixelsOtherThan(COLORREF colour) const {
    RECT r{m_width, m_height, 0, 0};
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            if (Pixel(x, y) != colour) {
                r.left = std::min<LONG>(r.left, x);
                r.top = std::min<LONG>(r.top, y);
                r.right = std::max<LONG>(r.right, x + 1);
                r.bottom = std::max<LONG>(r.bottom, y + 1);
            }
        }
    }
    return r.left < r.right ? r : RECT{};
}

HBITMAP MakeBitmap(int width, int height, COLORREF fill, RECT inner, COLORREF innerColour) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    if (inner.right > inner.left) {
        brush = CreateSolidBrush(innerColour);
        FillRect(dc, &inner, brush);
        DeleteObject(brush);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace wintest
