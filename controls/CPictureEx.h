#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QRect>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A picture control that shows one picture and plays an animated GIF in an endless loop
// on a thread of its own. The GIF is taken apart here (see GifBlocks.h): each frame is cut
// out as a stand-alone single-image GIF and decoded by Qt's image reader, then the frames
// are composed on an off-screen canvas by their position, delay and disposal method. The
// control takes the size of the picture when a load succeeds.
class CPictureEx : public QLabel {
    Q_OBJECT
public:
    // One frame of an animation.
    struct GifFrame {
        QImage picture; // the frame's own pixels, width x height, with its transparency
        int width = 0;
        int height = 0;
        int left = 0;
        int top = 0;
        std::uint32_t delay = 0; // hundredths of a second; 0xFFFFFFFF without a control block
        unsigned disposal = 0;   // 0 to 7
    };

    // Lets a test step the animation instead of waiting on the clock.
    struct AnimationHooks {
        // Called by the animation thread with the wait it is about to make and the exit
        // flag; returns the wait to make in its place.
        std::function<std::uint32_t(std::uint32_t ms, const std::atomic<bool>& exit)> beforeWait;
        // Called by the animation thread as the last thing it does.
        std::function<void()> finished;
        // How long StopAnimation waits for the thread.
        std::chrono::milliseconds stopWait{5000};
    };

    explicit CPictureEx(QWidget* parent = nullptr);
    ~CPictureEx() override;

    // Loads the resource of that number and type (the type is matched without regard to
    // case) through LoadFromMemory; false when there is no such resource.
    bool LoadFromResource(int id, const char* type = "GIF");
    // Parses and decodes the data (a GIF or any picture Qt can read); true when there is
    // something to show. Clears first; the data is not kept.
    bool LoadFromMemory(const void* data, std::size_t size);
    bool LoadFromMemory(const QByteArray& data);

    // Starts the animation of an animated GIF and returns 0; otherwise draws the still
    // picture and returns 1, or returns 0 when there is nothing to draw. Does nothing
    // when nothing is loaded or the animation already runs.
    int Show();
    // Ends the animation thread if one runs; the canvas keeps the frame last drawn. A
    // thread that does not end within the wait is left to end on its own, and the
    // control lets go of everything it had loaded.
    void StopAnimation();
    // Stops the animation and releases everything loaded.
    void Clear();

    bool IsGif() const { return m_bIsGif; }
    bool IsInitialized() const { return m_bIsInitialized; }
    bool IsAnimating() const { return m_thread.joinable(); }
    QSize PictureSize() const { return {m_nWidth, m_nHeight}; }
    QColor BackgroundColor() const;
    std::size_t FrameCount() const;
    GifFrame Frame(std::size_t index) const;
    std::uint32_t CurrentFrame() const;
    // A copy of the canvas as it is now.
    QImage CanvasImage() const;

    void SetAnimationHooks(AnimationHooks hooks) { m_hooks = std::move(hooks); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Everything the animation thread touches. The thread holds its own reference, so
    // a thread that outlives its wait never uses memory the control has released.
    struct Shared {
        mutable std::mutex canvasLock; // the thread draws, the window thread copies
        QImage canvas;
        QColor background{255, 255, 255};
        std::vector<GifFrame> frames;
        std::uint32_t currentFrame = 0;
        std::optional<QImage> disposalSave; // area under a frame of disposal method 3

        std::atomic<bool> exit{false};
        std::mutex eventLock;
        std::condition_variable event; // cuts a wait short
        bool signalled = false;

        std::mutex ownerLock;
        CPictureEx* owner = nullptr; // repaint requests go here while set

        std::mutex doneLock;
        std::condition_variable doneEvent;
        bool done = false;

        AnimationHooks hooks;
    };

    bool PrepareCanvas(int width, int height);
    bool LoadStill(const QByteArray& bytes, bool sizeFromExtent);
    // False when the thread did not end within the wait.
    bool EndThread();
    void ResetState();
    static void AnimationLoop(std::shared_ptr<Shared> shared);
    static void Dispose(Shared& s, const GifFrame& frame);
    static void RequestRepaint(Shared& s);

    int m_nWidth = 0;
    int m_nHeight = 0;
    bool m_bIsGif = false;
    bool m_bIsInitialized = false;
    QImage m_still;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    AnimationHooks m_hooks;
};
