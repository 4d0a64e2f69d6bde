#include "CPictureEx.h"

#include <QApplication>
#include <QMetaObject>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <limits>
#include <system_error>

#include "GifBlocks.h"
#include "Resources.h"

namespace {

// Multiplies first, then divides, rounding to the nearest integer.
int MulDiv(long long a, long long b, long long c) {
    if (c == 0) {
        return 0;
    }
    const long long n = a * b;
    return static_cast<int>((n >= 0 ? n + c / 2 : n - c / 2) / c);
}

// A picture's extent in hundredths of a millimetre, from its pixels and its resolution;
// pictures that state none count as 96 dots per inch.
int ExtentHimetric(int pixels, int dotsPerMeter) {
    if (dotsPerMeter <= 0) {
        dotsPerMeter = 3780;
    }
    return MulDiv(pixels, 100000, dotsPerMeter);
}

QImage Decode(const std::uint8_t* data, std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    return QImage::fromData(data, static_cast<int>(size));
}

} // namespace

CPictureEx::CPictureEx(QWidget* parent) : QLabel(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
}

CPictureEx::~CPictureEx() {
    Clear();
}

QColor CPictureEx::BackgroundColor() const {
    std::lock_guard lock(m_shared->canvasLock);
    return m_shared->background;
}

std::size_t CPictureEx::FrameCount() const {
    return m_shared->frames.size();
}

CPictureEx::GifFrame CPictureEx::Frame(std::size_t index) const {
    return index < m_shared->frames.size() ? m_shared->frames[index] : GifFrame{};
}

std::uint32_t CPictureEx::CurrentFrame() const {
    std::lock_guard lock(m_shared->canvasLock);
    return m_shared->currentFrame;
}

QImage CPictureEx::CanvasImage() const {
    std::lock_guard lock(m_shared->canvasLock);
    return m_shared->canvas.copy();
}

bool CPictureEx::LoadFromResource(int id, const char* type) {
    const QByteArray data = res::Data(QString::fromLatin1(type), id);
    if (data.isEmpty()) {
        Clear();
        return false;
    }
    return LoadFromMemory(data);
}

bool CPictureEx::LoadFromMemory(const QByteArray& data) {
    return LoadFromMemory(data.constData(), static_cast<std::size_t>(data.size()));
}

bool CPictureEx::LoadFromMemory(const void* block, std::size_t size) {
    Clear();
    const auto* data = static_cast<const std::uint8_t*>(block);
    if (data == nullptr || size == 0) {
        return false;
    }
    gif::GifWalker walker(data, size);
    if (!walker.IsGif()) {
        const QByteArray bytes(static_cast<const char*>(block), static_cast<qsizetype>(size));
        return LoadStill(bytes, true) && PrepareCanvas(m_nWidth, m_nHeight);
    }
    m_bIsGif = true;
    m_nWidth = walker.ScreenWidth();
    m_nHeight = walker.ScreenHeight();
    const std::size_t blocks = walker.CountGraphicBlocks();
    if (blocks == 0) {
        ResetState();
        return false;
    }
    if (blocks == 1) {
        const QByteArray bytes(static_cast<const char*>(block), static_cast<qsizetype>(size));
        if (!LoadStill(bytes, false)) {
            ResetState();
            return false;
        }
        return PrepareCanvas(m_nWidth, m_nHeight);
    }
    std::vector<GifFrame> frames;
    while (auto cut = walker.CutNextFrame()) {
        const QImage decoded = Decode(cut->gif.data(), cut->gif.size());
        if (decoded.isNull()) {
            continue; // a frame that cannot be decoded is left out
        }
        GifFrame frame;
        frame.width = cut->width;
        frame.height = cut->height;
        frame.left = cut->left;
        frame.top = cut->top;
        frame.delay = cut->delay;
        frame.disposal = cut->disposal;
        // The reader places the frame on a picture of the logical screen; only the
        // frame's own rectangle is kept. A picture of any other size is taken whole.
        const QRect own(frame.left, frame.top, frame.width, frame.height);
        frame.picture = decoded.size() == QSize(m_nWidth, m_nHeight)
                            ? decoded.copy(own)
                            : decoded.scaled(own.size(), Qt::IgnoreAspectRatio);
        if (frame.picture.isNull()) {
            continue;
        }
        frame.picture = frame.picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        ResetState();
        return false;
    }
    m_shared->frames = std::move(frames);
    return PrepareCanvas(m_nWidth, m_nHeight);
}

bool CPictureEx::LoadStill(const QByteArray& bytes, bool sizeFromExtent) {
    m_still = QImage::fromData(bytes);
    if (m_still.isNull()) {
        ResetState();
        return false;
    }
    if (sizeFromExtent) {
        // The picture's physical extent at the screen's resolution.
        const int extentW = ExtentHimetric(m_still.width(), m_still.dotsPerMeterX());
        const int extentH = ExtentHimetric(m_still.height(), m_still.dotsPerMeterY());
        m_nWidth = MulDiv(extentW, logicalDpiX(), 2540);
        m_nHeight = MulDiv(extentH, logicalDpiY(), 2540);
    }
    return true;
}

bool CPictureEx::PrepareCanvas(int width, int height) {
    QImage canvas;
    if (width > 0 && height > 0) {
        canvas = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    }
    if (canvas.isNull()) {
        ResetState();
        return false;
    }
    resize(width, height);
    const QPalette pal = QApplication::palette();
    canvas.fill(pal.color(QPalette::Window));
    {
        std::lock_guard lock(m_shared->canvasLock);
        m_shared->canvas = std::move(canvas);
        m_shared->background = pal.color(QPalette::Button);
    }
    m_bIsInitialized = true;
    return true;
}

int CPictureEx::Show() {
    if (!m_bIsInitialized) {
        return 0;
    }
    if (m_bIsGif && !m_shared->frames.empty()) {
        if (m_thread.joinable()) {
            return 0; // one thread per control
        }
        m_shared->hooks = m_hooks;
        {
            std::lock_guard lock(m_shared->doneLock);
            m_shared->done = false;
        }
        try {
            m_thread = std::thread(&CPictureEx::AnimationLoop, m_shared);
        } catch (const std::system_error&) {
            // Without a thread the prepared canvas is all there is to see.
        }
        return 0;
    }
    if (m_still.isNull()) {
        return 0;
    }
    {
        std::lock_guard lock(m_shared->canvasLock);
        QPainter p(&m_shared->canvas);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect(0, 0, m_nWidth, m_nHeight), m_still);
    }
    update();
    return 1;
}

bool CPictureEx::EndThread() {
    Shared& s = *m_shared;
    s.exit = true;
    {
        std::lock_guard lock(s.eventLock);
        s.signalled = true;
    }
    s.event.notify_all();
    bool ended = true;
    if (m_thread.joinable()) {
        std::unique_lock lock(s.doneLock);
        ended = s.doneEvent.wait_for(lock, s.hooks.stopWait, [&] { return s.done; });
        lock.unlock();
        if (ended) {
            m_thread.join();
        } else {
            // The exit flag and the event stay set for the late thread.
            m_thread.detach();
            return false;
        }
    }
    {
        std::lock_guard lock(s.eventLock);
        s.signalled = false;
    }
    s.exit = false;
    return true;
}

void CPictureEx::StopAnimation() {
    if (!EndThread()) {
        // The late thread keeps the old state to itself and ends when it next looks at
        // its exit flag; the control starts afresh.
        ResetState();
    }
}

void CPictureEx::ResetState() {
    {
        std::lock_guard lock(m_shared->ownerLock);
        m_shared->owner = nullptr;
    }
    m_shared = std::make_shared<Shared>();
    m_shared->owner = this;
    m_still = QImage();
    m_nWidth = 0;
    m_nHeight = 0;
    m_bIsGif = false;
    m_bIsInitialized = false;
}

void CPictureEx::Clear() {
    // A thread that does not end in time keeps the old state, which ResetState hands over.
    EndThread();
    ResetState();
}

void CPictureEx::paintEvent(QPaintEvent*) {
    if (!m_bIsInitialized) {
        return;
    }
    QPainter p(this);
    std::lock_guard lock(m_shared->canvasLock);
    p.drawImage(QPoint(0, 0), m_shared->canvas, QRect(0, 0, m_nWidth, m_nHeight));
}

void CPictureEx::RequestRepaint(Shared& s) {
    std::lock_guard lock(s.ownerLock);
    if (s.owner != nullptr) {
        CPictureEx* owner = s.owner;
        // Posted, so the repaint runs on the window thread; a posted call is dropped
        // when the control is destroyed before it runs. Called by name, so that the
        // posted call is made and read by Qt alone.
        QMetaObject::invokeMethod(owner, "update", Qt::QueuedConnection);
    }
}

void CPictureEx::Dispose(Shared& s, const GifFrame& f) {
    const QRect r(f.left, f.top, f.width, f.height);
    if (f.disposal == 2) {
        QPainter p(&s.canvas);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(r, s.background);
    } else if (f.disposal == 3 && s.disposalSave) {
        QPainter p(&s.canvas);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(r.topLeft(), *s.disposalSave);
        s.disposalSave.reset();
    }
}

void CPictureEx::AnimationLoop(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    {
        // Playing may resume after a stop with the current frame still on the canvas.
        std::lock_guard lock(s.canvasLock);
        Dispose(s, s.frames[s.currentFrame]);
    }
    while (!s.exit) {
        std::uint32_t delay = 0;
        {
            std::lock_guard lock(s.canvasLock);
            const GifFrame& f = s.frames[s.currentFrame];
            const QRect r(f.left, f.top, f.width, f.height);
            if (f.disposal == 3) {
                s.disposalSave = s.canvas.copy(r);
            }
            QPainter p(&s.canvas);
            p.drawImage(r, f.picture);
            delay = f.delay;
        }
        RequestRepaint(s);
        if (s.exit) {
            break;
        }
        std::uint32_t wait = gif::FrameWaitMs(delay);
        if (s.hooks.beforeWait) {
            wait = s.hooks.beforeWait(wait, s.exit);
        }
        {
            std::unique_lock lock(s.eventLock);
            s.event.wait_for(lock, std::chrono::milliseconds(wait), [&] { return s.signalled; });
        }
        if (s.exit) {
            break;
        }
        std::lock_guard lock(s.canvasLock);
        Dispose(s, s.frames[s.currentFrame]);
        if (++s.currentFrame >= s.frames.size()) {
            // The loop count of the file is not read: the animation repeats until stopped.
            s.currentFrame = 0;
            QPainter p(&s.canvas);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(s.canvas.rect(), s.background);
        }
    }
    if (s.hooks.finished) {
        s.hooks.finished();
    }
    {
        std::lock_guard lock(s.doneLock);
        s.done = true;
    }
    s.doneEvent.notify_all();
}
