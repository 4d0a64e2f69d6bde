#pragma once

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "CSubclassWnd.h"

// A picture control (binds to a "Static" control) that shows one picture and plays an
// animated GIF in an endless loop on a thread of its own. The GIF is taken apart by the
// toolkit-free walker of GifBlocks.h: each frame is cut out as a stand-alone single-image
// GIF and decoded with OleLoadPicture over a memory stream, then the frames are composed on
// an off-screen canvas by their position, delay and disposal method. The control takes the
// size of the picture when a load succeeds. The process must have initialised COM.
class CPictureEx : public CSubclassWnd {
public:
    // One frame of an animation.
    struct GifFrame {
        IPicture* pPicture = nullptr; // owned
        int width = 0;
        int height = 0;
        int left = 0;
        int top = 0;
        std::uint32_t delay = 0; // hundredths of a second; 0xFFFFFFFF without a control block
        unsigned disposal = 0;   // 0 to 7
    };

    // How long StopAnimation waits for the animation thread.
    static constexpr DWORD kStopWaitMs = 5000;

    CPictureEx();
    ~CPictureEx() override;

    BOOL SubclassWindow(HWND control) override;
    HWND UnsubclassWindow() override;

    // Loads the program's resource of that name and type (the lookup ignores the type's
    // case, so "gif" finds the resources of type GIF) through LoadFromMemory.
    BOOL LoadFromResource(LPCWSTR name, LPCWSTR type = L"gif");
    // Parses and decodes the data in a movable global block; TRUE when there is something
    // to show. Clears first; the block stays the caller's.
    BOOL LoadFromMemory(HGLOBAL block, DWORD size);

    // Starts the animation of an animated GIF and returns 0; otherwise draws the still
    // picture and returns 1, or 0 when there is nothing to draw or drawing failed. Does
    // nothing when nothing is loaded or the animation already runs.
    int Show();
    // Ends the animation thread if one runs, waiting at most kStopWaitMs; the canvas keeps
    // the frame last drawn. A thread that does not end in time keeps what it uses to
    // itself and the control starts afresh.
    void StopAnimation();
    // Stops the animation and releases everything loaded.
    void Clear();

    BOOL IsGif() const { return m_bIsGif; }
    BOOL IsInitialized() const { return m_bIsInitialized; }
    BOOL IsAnimating() const { return m_hThread != nullptr; }
    SIZE GetPictureSize() const { return {m_nWidth, m_nHeight}; }
    COLORREF GetBkColor() const;
    std::size_t GetFrameCount() const;
    // The frame's geometry, delay and disposal; its picture stays the control's.
    GifFrame GetFrame(std::size_t index) const;
    std::uint32_t GetCurrentFrame() const;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    struct Shared;

    BOOL PrepareCanvas(int width, int height);
    BOOL LoadStill(HGLOBAL block, DWORD size, BOOL sizeFromExtent);
    BOOL EndThread();
    void ResetState();
    void PaintCanvas(HDC hdc);
    static DWORD WINAPI ThreadProc(LPVOID param);
    static void AnimationLoop(Shared& s);

    int m_nWidth = 0;
    int m_nHeight = 0;
    BOOL m_bIsGif = FALSE;
    BOOL m_bIsInitialized = FALSE;
    IPicture* m_pStill = nullptr;
    HANDLE m_hThread = nullptr;
    // Everything the animation thread touches; the thread holds a reference of its own.
    std::shared_ptr<Shared> m_shared;
};
