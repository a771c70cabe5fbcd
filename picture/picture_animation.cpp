// Showing what a load prepared. Everything is drawn into an off-screen
// surface; the window only ever copies it (no flicker). A still picture is
// drawn once by Play; an animation is drawn frame by frame by one thread that
// honours each frame's delay and disposal method and loops until stopped.
#include <process.h>

#include "picture/animated_picture_wnd.h"
#include "common/critical_section_lock.h"
#include "common/unique_gdi.h"
#include "common/window_dc.h"

namespace {

// Longest wait for the thread before Stop decides it is late; Stop then keeps
// waiting, since the thread may still be drawing with the frames.
constexpr DWORD kThreadStopWaitMs = 5000;
constexpr DWORD kDelayUnitMs = 10;
constexpr DWORD kShortDelayMs = 100;
constexpr DWORD kShortestDelay = 5;

// Renders the whole picture into the given rectangle of dc. HIMETRIC y runs
// upwards, so the source starts at the top edge and has a negative height.
[[nodiscard]] bool RenderPicture(IPicture* picture, HDC dc, LONG x, LONG y, LONG width, LONG height) noexcept {
    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    return picture->Render(dc, x, y, width, height, 0, himetricHeight, himetricWidth, -himetricHeight, nullptr) == S_OK;
}

}  // namespace

DWORD CAnimatedPictureWnd::FrameWaitMs(DWORD delay) noexcept {
    if (delay < kShortestDelay) return kShortDelayMs;
    return delay * kDelayUnitMs;  // unsigned 32-bit product, as the frame asks
}

bool CAnimatedPictureWnd::HasAnimation() const noexcept { return isGif_ && frameCount_ > 1; }

bool CAnimatedPictureWnd::PrepareBuffer(int width, int height) noexcept {
    HWND window = m_hWnd;
    if (window != nullptr) {
        ::SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    }
    // Without a window the surface is made compatible with the screen.
    win32::WindowDc windowDc(window);
    if (!windowDc) return false;

    win32::CriticalSectionLock lock(surfaceLock_);
    ReleaseSurface();
    if (!surface_.create(windowDc.get(), width, height)) return false;

    backgroundColor_ = ::GetSysColor(COLOR_BTNFACE);
    RECT all{0, 0, width, height};
    ::FillRect(surface_.dc.get(), &all, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1)));
    ready_ = true;
    return true;
}

void CAnimatedPictureWnd::Play() noexcept {
    if (!ready_) return;
    if (HasAnimation()) {
        // One thread at a time; without a stop event it could never be cut short.
        if (thread_ || !stopEvent_) return;
        uintptr_t started = ::_beginthreadex(nullptr, 0, &CAnimatedPictureWnd::AnimationThread, this, 0, nullptr);
        thread_.reset(reinterpret_cast<HANDLE>(started));
        return;
    }
    if (DrawStill()) InvalidateWindow();
}

bool CAnimatedPictureWnd::DrawStill() noexcept {
    if (!picture_) return false;
    win32::CriticalSectionLock lock(surfaceLock_);
    if (!surface_) return false;
    FillSurface(RECT{0, 0, pictureWidth_, pictureHeight_}, backgroundColor_);
    return RenderPicture(picture_.get(), surface_.dc.get(), 0, 0, pictureWidth_, pictureHeight_);
}

void CAnimatedPictureWnd::StopThread() noexcept {
    stopRequested_.store(true);
    if (stopEvent_) ::SetEvent(stopEvent_.get());
    if (thread_) {
        if (::WaitForSingleObject(thread_.get(), kThreadStopWaitMs) == WAIT_TIMEOUT) {
            // A frame is still being drawn: the frames and the surface must
            // outlive the thread, so wait for it to see the request.
            ::WaitForSingleObject(thread_.get(), INFINITE);
        }
        thread_.reset();
    }
    if (stopEvent_) ::ResetEvent(stopEvent_.get());
    stopRequested_.store(false);
}

void CAnimatedPictureWnd::Stop() noexcept {
    StopThread();
    picture_.reset();
    frames_.reset();  // releases every frame's picture
    frameCount_ = 0;
    frameSlots_ = 0;
    {
        win32::CriticalSectionLock lock(surfaceLock_);
        ReleaseSurface();
        ReleaseSavedArea();
    }
    data_ = nullptr;
    ready_ = false;
    stopRequested_.store(false);
    isGif_ = false;
    globalTableSize_ = 0;
    position_ = 0;
    currentFrame_.store(0);
    dataSize_ = 0;
    backgroundColor_ = 0xFFFFFF;
}

void CAnimatedPictureWnd::ReleaseSurface() noexcept { surface_.reset(); }

void CAnimatedPictureWnd::ReleaseSavedArea() noexcept { savedArea_.reset(); }

void CAnimatedPictureWnd::FillSurface(const RECT& area, COLORREF color) noexcept {
    win32::UniqueBrush brush(::CreateSolidBrush(color));
    if (!brush) return;
    ::FillRect(surface_.dc.get(), &area, brush.get());
}

void CAnimatedPictureWnd::InvalidateWindow() noexcept {
    HWND window = AttachedWindow();
    if (window != nullptr) ::InvalidateRect(window, nullptr, FALSE);
}

COLORREF CAnimatedPictureWnd::SurfacePixel(int x, int y) noexcept {
    win32::CriticalSectionLock lock(surfaceLock_);
    if (!surface_) return CLR_INVALID;
    return ::GetPixel(surface_.dc.get(), x, y);
}

// Applies the disposal method of frame index once its delay is over.
void CAnimatedPictureWnd::DisposeFrame(DWORD index) noexcept {
    if (index >= frameCount_) return;
    const GifFrame& frame = frames_[index];
    win32::CriticalSectionLock lock(surfaceLock_);
    if (!surface_) return;
    if (frame.disposal == 2) {
        FillSurface(RECT{static_cast<LONG>(frame.left), static_cast<LONG>(frame.top),
                         static_cast<LONG>(frame.left + frame.width), static_cast<LONG>(frame.top + frame.height)},
                    backgroundColor_);
    } else if (savedArea_ && frame.disposal == 3) {
        ::BitBlt(surface_.dc.get(), static_cast<int>(frame.left), static_cast<int>(frame.top),
                 static_cast<int>(frame.width), static_cast<int>(frame.height), savedArea_.dc.get(), 0, 0, SRCCOPY);
        ReleaseSavedArea();
    }
}

// Draws frames[currentFrame] into the surface: the whole surface is cleared
// before frame 0, and the area under a frame with disposal 3 is saved first.
// Returns true when something was drawn that the window should show.
bool CAnimatedPictureWnd::DrawCurrentFrame() noexcept {
    const DWORD index = currentFrame_.load();
    if (index >= frameCount_) return false;
    const GifFrame& frame = frames_[index];
    bool rendered = false;
    {
        win32::CriticalSectionLock lock(surfaceLock_);
        if (!surface_) return false;
        if (index == 0) FillSurface(RECT{0, 0, pictureWidth_, pictureHeight_}, backgroundColor_);
        if (!frame.picture) return false;
        if (frame.disposal == 3) {
            ReleaseSavedArea();
            if (savedArea_.create(surface_.dc.get(), static_cast<int>(frame.width), static_cast<int>(frame.height))) {
                ::BitBlt(savedArea_.dc.get(), 0, 0, static_cast<int>(frame.width), static_cast<int>(frame.height),
                         surface_.dc.get(), static_cast<int>(frame.left), static_cast<int>(frame.top), SRCCOPY);
            }
        }
        rendered = RenderPicture(frame.picture.get(), surface_.dc.get(), static_cast<LONG>(frame.left),
                                 static_cast<LONG>(frame.top), static_cast<LONG>(frame.width),
                                 static_cast<LONG>(frame.height));
    }
    framesDrawn_.fetch_add(1);
    return rendered;
}

void CAnimatedPictureWnd::AdvanceFrame() noexcept {
    DWORD next = currentFrame_.load() + 1;
    if (next >= frameCount_) next = 0;
    currentFrame_.store(next);
}

unsigned __stdcall CAnimatedPictureWnd::AnimationThread(void* control) {
    static_cast<CAnimatedPictureWnd*>(control)->RunAnimation();
    return 0;
}

void CAnimatedPictureWnd::RunAnimation() noexcept {
    // Finishes a frame that an earlier run was stopped in the middle of.
    DisposeFrame(currentFrame_.load());
    while (!stopRequested_.load()) {
        if (!PlayStep(FrameTiming::WaitOutDelay)) return;
    }
}

// One step of the animation, the same for the thread and for drawing without
// one: draws the current frame, waits out its delay (the thread only), disposes
// of it and moves on. False when a stop was requested during the step, which
// then leaves the frame to be disposed of when play resumes.
bool CAnimatedPictureWnd::PlayStep(FrameTiming timing) noexcept {
    const DWORD index = currentFrame_.load();
    if (index < frameCount_ && frames_[index].picture) {
        if (DrawCurrentFrame()) InvalidateWindow();
        if (timing == FrameTiming::WaitOutDelay) {
            if (stopRequested_.load()) return false;
            ::WaitForSingleObject(stopEvent_.get(), FrameWaitMs(frames_[index].delay));
            if (stopRequested_.load()) return false;
        }
        DisposeFrame(index);
    } else {
        static_cast<void>(DrawCurrentFrame());  // nothing to show; frame 0 still clears the surface
    }
    AdvanceFrame();
    return true;
}

bool CAnimatedPictureWnd::DrawFramesThrough(DWORD index) noexcept {
    if (!ready_ || thread_) return false;
    if (!HasAnimation()) return index == 0 && DrawStill();
    {
        win32::CriticalSectionLock lock(surfaceLock_);
        ReleaseSavedArea();
    }
    currentFrame_.store(0);
    for (DWORD step = 0; step < index; ++step) static_cast<void>(PlayStep(FrameTiming::NoWait));
    static_cast<void>(DrawCurrentFrame());
    return true;
}

LRESULT CAnimatedPictureWnd::OnPaint() noexcept {
    HWND window = m_hWnd;
    if (!::GetUpdateRect(window, nullptr, FALSE)) return 0;
    win32::PaintDc dc(window);
    if (!dc) return E_FAIL;
    win32::CriticalSectionLock lock(surfaceLock_);
    if (surface_) ::BitBlt(dc.get(), 0, 0, pictureWidth_, pictureHeight_, surface_.dc.get(), 0, 0, SRCCOPY);
    return 0;
}

LRESULT CAnimatedPictureWnd::OnDestroy() noexcept {
    StopThread();
    return 0;
}

bool CAnimatedPictureWnd::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result,
                                               DWORD mapId) noexcept {
    if (mapId != 0) return false;
    switch (message) {
        case WM_PAINT:
            result = OnPaint();
            return true;
        case WM_DESTROY:
            result = OnDestroy();
            return true;
        default:
            return false;
    }
}
