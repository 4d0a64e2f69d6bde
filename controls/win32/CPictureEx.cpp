#include "CPictureEx.h"

#include <cstring>
#include <mutex>
#include <utility>

#include "GifBlocks.h"

namespace {

// Decodes a picture with the system's picture loader over a stream on the block. The
// stream frees the block when released if freeBlock is set, also when the load fails.
IPicture* LoadPicture(HGLOBAL block, DWORD size, BOOL freeBlock) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, freeBlock, &stream))) {
        if (freeBlock) {
            GlobalFree(block);
        }
        return nullptr;
    }
    IPicture* picture = nullptr;
    if (FAILED(OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                              reinterpret_cast<void**>(&picture)))) {
        picture = nullptr;
    }
    stream->Release();
    return picture;
}

// Draws the whole picture upright into the rectangle: the extent is in HIMETRIC, whose
// vertical axis points up, so the source starts at the bottom with a negative height.
bool Render(IPicture* picture, HDC hdc, int x, int y, int cx, int cy) {
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    if (picture == nullptr || FAILED(picture->get_Width(&hmWidth)) ||
        FAILED(picture->get_Height(&hmHeight))) {
        return false;
    }
    return SUCCEEDED(picture->Render(hdc, x, y, cx, cy, 0, hmHeight, hmWidth, -hmHeight, nullptr));
}

} // namespace

struct CPictureEx::Shared {
    std::mutex canvasLock; // the animation thread draws, the window thread copies
    HDC canvas = nullptr;
    HBITMAP canvasBitmap = nullptr;
    HGDIOBJ canvasOld = nullptr;
    HDC saveDc = nullptr; // area under a frame of disposal method 3 while it is on show
    HBITMAP saveBitmap = nullptr;
    HGDIOBJ saveOld = nullptr;
    COLORREF background = RGB(255, 255, 255);
    std::vector<GifFrame> frames;
    std::atomic<std::uint32_t> currentFrame{0};

    std::atomic<bool> exit{false};
    HANDLE exitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    std::mutex ownerLock;
    HWND owner = nullptr; // repaint requests go here while set

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() {
        for (GifFrame& f : frames) {
            if (f.pPicture != nullptr) {
                f.pPicture->Release();
            }
        }
        FreeSaveArea();
        if (canvas != nullptr) {
            SelectObject(canvas, canvasOld);
            DeleteDC(canvas);
        }
        if (canvasBitmap != nullptr) {
            DeleteObject(canvasBitmap);
        }
        if (exitEvent != nullptr) {
            CloseHandle(exitEvent);
        }
    }

    void FreeSaveArea() {
        if (saveDc != nullptr) {
            SelectObject(saveDc, saveOld);
            DeleteDC(saveDc);
        }
        if (saveBitmap != nullptr) {
            DeleteObject(saveBitmap);
        }
        saveDc = nullptr;
        saveBitmap = nullptr;
        saveOld = nullptr;
    }

    void RequestRepaint() {
        std::lock_guard lock(ownerLock);
        if (owner != nullptr) {
            InvalidateRect(owner, nullptr, FALSE);
        }
    }

    void FillBackground(const RECT& r) {
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(canvas, &r, brush);
        DeleteObject(brush);
    }

    // Removes the frame from the canvas by its disposal method.
    void Dispose(const GifFrame& f) {
        const RECT r{f.left, f.top, f.left + f.width, f.top + f.height};
        if (f.disposal == 2) {
            FillBackground(r);
        } else if (f.disposal == 3 && saveDc != nullptr) {
            BitBlt(canvas, f.left, f.top, f.width, f.height, saveDc, 0, 0, SRCCOPY);
            FreeSaveArea();
        }
    }
};

CPictureEx::CPictureEx() : m_shared(std::make_shared<Shared>()) {}

CPictureEx::~CPictureEx() {
    Clear();
    UnsubclassWindow();
}

BOOL CPictureEx::SubclassWindow(HWND control) {
    if (!CSubclassWnd::SubclassWindow(control)) {
        return FALSE;
    }
    std::lock_guard lock(m_shared->ownerLock);
    m_shared->owner = control;
    return TRUE;
}

HWND CPictureEx::UnsubclassWindow() {
    {
        std::lock_guard lock(m_shared->ownerLock);
        m_shared->owner = nullptr;
    }
    return CSubclassWnd::UnsubclassWindow();
}

COLORREF CPictureEx::GetBkColor() const {
    std::lock_guard lock(m_shared->canvasLock);
    return m_shared->background;
}

std::size_t CPictureEx::GetFrameCount() const {
    return m_shared->frames.size();
}

CPictureEx::GifFrame CPictureEx::GetFrame(std::size_t index) const {
    if (index >= m_shared->frames.size()) {
        return {};
    }
    GifFrame f = m_shared->frames[index];
    f.pPicture = nullptr;
    return f;
}

std::uint32_t CPictureEx::GetCurrentFrame() const {
    return m_shared->currentFrame;
}

BOOL CPictureEx::LoadFromResource(LPCWSTR name, LPCWSTR type) {
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, name, type);
    HGLOBAL loaded = info != nullptr ? LoadResource(module, info) : nullptr;
    const DWORD size = info != nullptr ? SizeofResource(module, info) : 0;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) {
        Clear();
        return FALSE;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    void* copy = block != nullptr ? GlobalLock(block) : nullptr;
    if (copy == nullptr) {
        if (block != nullptr) {
            GlobalFree(block);
        }
        Clear();
        return FALSE;
    }
    std::memcpy(copy, bytes, size);
    GlobalUnlock(block);
    const BOOL ok = LoadFromMemory(block, size);
    GlobalFree(block);
    return ok;
}

BOOL CPictureEx::LoadFromMemory(HGLOBAL block, DWORD size) {
    Clear();
    const auto* data = block != nullptr ? static_cast<const BYTE*>(GlobalLock(block)) : nullptr;
    if (data == nullptr) {
        return FALSE;
    }
    gif::GifWalker walker(data, size);
    if (!walker.IsGif()) {
        GlobalUnlock(block);
        return LoadStill(block, size, TRUE) && PrepareCanvas(m_nWidth, m_nHeight);
    }
    m_bIsGif = TRUE;
    m_nWidth = walker.ScreenWidth();
    m_nHeight = walker.ScreenHeight();
    const std::size_t blocks = walker.CountGraphicBlocks();
    if (blocks == 0) {
        GlobalUnlock(block);
        ResetState();
        return FALSE;
    }
    if (blocks == 1) {
        GlobalUnlock(block);
        return LoadStill(block, size, FALSE) && PrepareCanvas(m_nWidth, m_nHeight);
    }
    std::vector<GifFrame> frames;
    while (auto cut = walker.CutNextFrame()) {
        HGLOBAL frameBlock = GlobalAlloc(GMEM_MOVEABLE, cut->gif.size());
        void* bytes = frameBlock != nullptr ? GlobalLock(frameBlock) : nullptr;
        if (bytes == nullptr) {
            if (frameBlock != nullptr) {
                GlobalFree(frameBlock);
            }
            continue;
        }
        std::memcpy(bytes, cut->gif.data(), cut->gif.size());
        GlobalUnlock(frameBlock);
        // The stream frees the frame's block; a frame that cannot be decoded is dropped.
        IPicture* picture = LoadPicture(frameBlock, static_cast<DWORD>(cut->gif.size()), TRUE);
        if (picture == nullptr) {
            continue;
        }
        frames.push_back(GifFrame{picture, cut->width, cut->height, cut->left, cut->top, cut->delay,
                                  cut->disposal});
    }
    GlobalUnlock(block);
    if (frames.empty()) {
        ResetState();
        return FALSE;
    }
    m_shared->frames = std::move(frames);
    return PrepareCanvas(m_nWidth, m_nHeight);
}

BOOL CPictureEx::LoadStill(HGLOBAL block, DWORD size, BOOL sizeFromExtent) {
    m_pStill = LoadPicture(block, size, FALSE);
    if (m_pStill == nullptr) {
        ResetState();
        return FALSE;
    }
    if (sizeFromExtent) {
        OLE_XSIZE_HIMETRIC hmWidth = 0;
        OLE_YSIZE_HIMETRIC hmHeight = 0;
        m_pStill->get_Width(&hmWidth);
        m_pStill->get_Height(&hmHeight);
        HDC screen = GetDC(m_hWnd);
        m_nWidth = MulDiv(hmWidth, GetDeviceCaps(screen, LOGPIXELSX), 2540);
        m_nHeight = MulDiv(hmHeight, GetDeviceCaps(screen, LOGPIXELSY), 2540);
        ReleaseDC(m_hWnd, screen);
    }
    return TRUE;
}

BOOL CPictureEx::PrepareCanvas(int width, int height) {
    if (m_hWnd == nullptr || width <= 0 || height <= 0) {
        ResetState();
        return FALSE;
    }
    SetWindowPos(m_hWnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HDC windowDc = GetDC(m_hWnd);
    HDC canvas = windowDc != nullptr ? CreateCompatibleDC(windowDc) : nullptr;
    HBITMAP bitmap = canvas != nullptr ? CreateCompatibleBitmap(windowDc, width, height) : nullptr;
    if (bitmap == nullptr) {
        if (canvas != nullptr) {
            DeleteDC(canvas);
        }
        if (windowDc != nullptr) {
            ReleaseDC(m_hWnd, windowDc);
        }
        ResetState();
        return FALSE;
    }
    {
        std::lock_guard lock(m_shared->canvasLock);
        Shared& s = *m_shared;
        s.canvas = canvas;
        s.canvasBitmap = bitmap;
        s.canvasOld = SelectObject(canvas, bitmap);
        s.background = GetSysColor(COLOR_BTNFACE);
        const RECT all{0, 0, width, height};
        FillRect(canvas, &all, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1)));
    }
    ReleaseDC(m_hWnd, windowDc);
    m_bIsInitialized = TRUE;
    return TRUE;
}

int CPictureEx::Show() {
    if (!m_bIsInitialized) {
        return 0;
    }
    if (m_bIsGif && !m_shared->frames.empty()) {
        if (m_hThread != nullptr) {
            return 0; // one thread per control
        }
        auto* ref = new std::shared_ptr<Shared>(m_shared);
        m_hThread =
            CreateThread(nullptr, 0, &CPictureEx::ThreadProc, ref, CREATE_SUSPENDED, nullptr);
        if (m_hThread == nullptr) {
            // Without a thread the prepared canvas is all there is to see.
            delete ref;
            return 0;
        }
        ResumeThread(m_hThread);
        return 0;
    }
    if (m_pStill == nullptr) {
        return 0;
    }
    bool drawn = false;
    {
        std::lock_guard lock(m_shared->canvasLock);
        drawn = Render(m_pStill, m_shared->canvas, 0, 0, m_nWidth, m_nHeight);
    }
    if (!drawn) {
        return 0;
    }
    if (m_hWnd != nullptr) {
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    return 1;
}

DWORD WINAPI CPictureEx::ThreadProc(LPVOID param) {
    std::unique_ptr<std::shared_ptr<Shared>> ref(static_cast<std::shared_ptr<Shared>*>(param));
    AnimationLoop(**ref);
    return 0;
}

void CPictureEx::AnimationLoop(Shared& s) {
    {
        // Playing may resume after a stop with the current frame still on the canvas.
        std::lock_guard lock(s.canvasLock);
        s.Dispose(s.frames[s.currentFrame]);
    }
    while (!s.exit) {
        std::uint32_t delay = 0;
        bool drawn = false;
        {
            std::lock_guard lock(s.canvasLock);
            const GifFrame& f = s.frames[s.currentFrame];
            if (f.disposal == 3) {
                s.FreeSaveArea();
                s.saveDc = CreateCompatibleDC(s.canvas);
                s.saveBitmap = CreateCompatibleBitmap(s.canvas, f.width, f.height);
                if (s.saveDc != nullptr && s.saveBitmap != nullptr) {
                    s.saveOld = SelectObject(s.saveDc, s.saveBitmap);
                    BitBlt(s.saveDc, 0, 0, f.width, f.height, s.canvas, f.left, f.top, SRCCOPY);
                } else {
                    s.FreeSaveArea();
                }
            }
            drawn = Render(f.pPicture, s.canvas, f.left, f.top, f.width, f.height);
            delay = f.delay;
        }
        if (drawn) {
            s.RequestRepaint();
        }
        if (s.exit) {
            break;
        }
        WaitForSingleObject(s.exitEvent, gif::FrameWaitMs(delay));
        if (s.exit) {
            break;
        }
        std::lock_guard lock(s.canvasLock);
        s.Dispose(s.frames[s.currentFrame]);
        if (++s.currentFrame >= s.frames.size()) {
            // The loop count of the file is not read: the animation repeats until stopped.
            s.currentFrame = 0;
            HBITMAP bitmap = s.canvasBitmap;
            BITMAP bm{};
            GetObjectW(bitmap, sizeof(bm), &bm);
            s.FillBackground(RECT{0, 0, bm.bmWidth, bm.bmHeight});
        }
    }
}

BOOL CPictureEx::EndThread() {
    Shared& s = *m_shared;
    s.exit = true;
    SetEvent(s.exitEvent);
    if (m_hThread != nullptr) {
        const DWORD waited = WaitForSingleObject(m_hThread, kStopWaitMs);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        if (waited != WAIT_OBJECT_0) {
            // The exit flag and the event stay set for the late thread.
            return FALSE;
        }
    }
    ResetEvent(s.exitEvent);
    s.exit = false;
    return TRUE;
}

void CPictureEx::StopAnimation() {
    if (!EndThread()) {
        // The late thread keeps the old state to itself and ends when it next looks at its
        // exit flag; the control starts afresh.
        ResetState();
    }
}

void CPictureEx::ResetState() {
    {
        std::lock_guard lock(m_shared->ownerLock);
        m_shared->owner = nullptr;
    }
    m_shared = std::make_shared<Shared>();
    m_shared->owner = m_hWnd;
    if (m_pStill != nullptr) {
        m_pStill->Release();
        m_pStill = nullptr;
    }
    m_nWidth = 0;
    m_nHeight = 0;
    m_bIsGif = FALSE;
    m_bIsInitialized = FALSE;
}

void CPictureEx::Clear() {
    EndThread();
    ResetState();
}

void CPictureEx::PaintCanvas(HDC hdc) {
    if (!m_bIsInitialized) {
        return;
    }
    std::lock_guard lock(m_shared->canvasLock);
    BitBlt(hdc, 0, 0, m_nWidth, m_nHeight, m_shared->canvas, 0, 0, SRCCOPY);
}

LRESULT CPictureEx::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(m_hWnd, &ps);
        PaintCanvas(hdc);
        EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintCanvas(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_DESTROY:
        StopAnimation();
        break;
    default:
        break;
    }
    return Default(msg, wParam, lParam);
}
