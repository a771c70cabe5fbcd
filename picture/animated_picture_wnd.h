// The animated picture control: takes over a static control and plays a GIF
// animation (or shows a still picture) from an off-screen surface.
//
// A load walks the GIF stream, cuts every frame out as a small stand-alone GIF
// and decodes each one once through the platform's picture decoder. Play starts
// one animation thread that draws frame after frame into the surface, honouring
// each frame's delay and disposal method; WM_PAINT only copies the surface.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <memory>
#include <vector>

#include "common/com_ref.h"
#include "common/critical_section.h"
#include "common/memory_surface.h"
#include "common/unique_global.h"
#include "common/unique_handle.h"
#include "picture/window_wrapper.h"

// The byte that ends a GIF stream.
constexpr BYTE kGifTrailer = 0x3B;
// The delay of a frame without a graphic control extension.
constexpr DWORD kNoFrameDelay = 0xFFFFFFFF;

// Classification of the block at the walker's position.
enum GifBlockKind {
    Unrecognized = 0,
    ApplicationExtension = 1,
    CommentExtension = 2,
    GraphicControlExtension = 3,
    PlainTextExtension = 4,
    ImageDescriptor = 5,
    Trailer = 6,
};

// One decoded frame, holding one reference to its picture.
struct GifFrame {
    win32::ComRef<IPicture> picture;
    DWORD width;
    DWORD height;
    DWORD left;
    DWORD top;
    DWORD delay;    // hundredths of a second; kNoFrameDelay without a graphic control extension
    LONG disposal;  // 0-7; 0 without a graphic control extension
};

// What the walker finds in a stream, frame by frame, for makers and tests.
struct GifFrameLayout {
    DWORD offset;      // first byte of the frame in the source stream
    DWORD extent;      // bytes from there to the end of the frame's graphic block
    DWORD streamSize;  // size of the frame's stand-alone stream
    DWORD width, height, left, top, delay;
    LONG disposal;
    std::vector<BYTE> stream;  // the stand-alone stream itself
};

struct GifStreamLayout {
    bool isGif = false;
    DWORD screenWidth = 0;
    DWORD screenHeight = 0;
    DWORD globalTableSize = 0;
    DWORD frameCount = 0;                // as counted by SkipFrame
    std::vector<GifFrameLayout> frames;  // as extracted by ExtractFrame
};

class CAnimatedPictureWnd : public CSubclassWindow {
public:
    CAnimatedPictureWnd() noexcept;
    ~CAnimatedPictureWnd() override;

    // Loading. Both unload first; a missing resource fails before that.
    [[nodiscard]] BOOL LoadFromResource(LPCSTR name, LPCSTR type) noexcept;
    // block is a movable global memory block holding size bytes; it stays the
    // caller's.
    [[nodiscard]] BOOL LoadFromMemory(HGLOBAL block, DWORD size) noexcept;

    // Showing.
    void Play() noexcept;
    // Ends the animation thread, leaving frames and surface in place.
    void StopThread() noexcept;
    // Ends the thread and releases everything a load created.
    void Stop() noexcept;
    [[nodiscard]] bool HasAnimation() const noexcept;

    // Window message handlers.
    LRESULT OnPaint() noexcept;
    LRESULT OnDestroy() noexcept;

    // Off-screen surface, made by every load as its last step.
    [[nodiscard]] bool PrepareBuffer(int width, int height) noexcept;

    // The wait after a frame with the given delay, in milliseconds.
    [[nodiscard]] static DWORD FrameWaitMs(DWORD delay) noexcept;
    // True when the bytes begin a GIF87a or GIF89a stream.
    [[nodiscard]] static bool IsGifStream(const BYTE* bytes, DWORD size) noexcept;

    // Read-only inspection (makers' tool and tests).
    [[nodiscard]] DWORD FrameCount() const noexcept { return frameCount_; }
    [[nodiscard]] const GifFrame& Frame(DWORD index) const noexcept { return frames_[index]; }
    [[nodiscard]] HDC SurfaceDc() const noexcept { return surface_.dc.get(); }
    [[nodiscard]] int PictureWidth() const noexcept { return pictureWidth_; }
    [[nodiscard]] int PictureHeight() const noexcept { return pictureHeight_; }
    [[nodiscard]] bool IsGif() const noexcept { return isGif_; }
    [[nodiscard]] bool HasStill() const noexcept { return static_cast<bool>(picture_); }
    [[nodiscard]] bool IsReady() const noexcept { return ready_; }
    [[nodiscard]] bool IsThreadRunning() const noexcept { return static_cast<bool>(thread_); }
    [[nodiscard]] COLORREF BackgroundColor() const noexcept { return backgroundColor_; }
    [[nodiscard]] DWORD CurrentFrame() const noexcept { return currentFrame_.load(); }
    // Number of frames the animation has drawn since the control was made.
    [[nodiscard]] DWORD FramesDrawn() const noexcept { return framesDrawn_.load(); }
    // One surface pixel, read under the surface lock (CLR_INVALID without one).
    [[nodiscard]] COLORREF SurfacePixel(int x, int y) noexcept;
    // Draws the loaded picture as the animation shows it once drawing step
    // index has been made, starting from frame 0 and looping like the thread
    // (step FrameCount() is frame 0 again, after the wrap-around), with the
    // same steps the thread takes, only without waiting. A still picture is drawn as Play
    // draws it (step 0 only). False when nothing is loaded or a thread runs.
    [[nodiscard]] bool DrawFramesThrough(DWORD index) noexcept;
    // Walks a stream without loading it (library larkspan_picture_inspect).
    [[nodiscard]] GifStreamLayout InspectGifStream(const BYTE* bytes, DWORD size) noexcept;

protected:
    bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD mapId) noexcept override;

private:
    // GIF walker (gif_walker.cpp).
    [[nodiscard]] bool ReadScreenDescriptor(DWORD& width, DWORD& height) noexcept;
    [[nodiscard]] GifBlockKind BlockKindAt() const noexcept;
    [[nodiscard]] LONG BlockLengthAt() const noexcept;
    [[nodiscard]] LONG SubBlockChainLength(DWORD offset) const noexcept;
    [[nodiscard]] bool SkipBlock() noexcept;
    void RewindToFirstBlock() noexcept;
    [[nodiscard]] bool SkipLeadingExtensions() noexcept;
    [[nodiscard]] bool SkipFrame() noexcept;
    [[nodiscard]] DWORD CountFrames() noexcept;
    [[nodiscard]] bool ByteAt(DWORD offset, BYTE& value) const noexcept;
    [[nodiscard]] bool WordAt(DWORD offset, DWORD& value) const noexcept;

    // Loading (picture_load.cpp).
    struct FrameValues {
        DWORD offset, extent, delay, width, height, left, top;
        LONG disposal;
        bool localTable;  // the image carries its own colour table
    };
    // True when the frame has colours to decode with (a global or a local table).
    [[nodiscard]] bool HasColourTable(const FrameValues& values) const noexcept;
    // True when the first frame walks and has colours.
    [[nodiscard]] bool FirstFrameHasColours() noexcept;
    // For a stream the decoder will take for a GIF although it is not one of
    // ours: true when its screen and first frame are safe to hand over.
    [[nodiscard]] bool GifLikeStillIsDecodable() noexcept;
    [[nodiscard]] win32::UniqueGlobal ExtractFrame(DWORD& streamSize, FrameValues& values) noexcept;
    [[nodiscard]] bool WalkFrame(FrameValues& values) noexcept;
    [[nodiscard]] BOOL LoadStill(HGLOBAL block, DWORD size, bool fromGif) noexcept;
    [[nodiscard]] BOOL LoadFrames() noexcept;

    // Animation and painting (picture_animation.cpp).
    static unsigned __stdcall AnimationThread(void* control);
    void RunAnimation() noexcept;
    enum class FrameTiming { WaitOutDelay, NoWait };
    [[nodiscard]] bool PlayStep(FrameTiming timing) noexcept;
    void DisposeFrame(DWORD index) noexcept;
    [[nodiscard]] bool DrawCurrentFrame() noexcept;
    void AdvanceFrame() noexcept;
    [[nodiscard]] bool DrawStill() noexcept;
    void FillSurface(const RECT& area, COLORREF color) noexcept;
    void ReleaseSavedArea() noexcept;
    void ReleaseSurface() noexcept;
    void InvalidateWindow() noexcept;

    // Walker state: valid only while a load runs.
    const BYTE* data_ = nullptr;
    DWORD dataSize_ = 0;
    DWORD position_ = 0;
    DWORD globalTableSize_ = 0;

    // Load results: frameCount_ decoded frames in room for frameSlots_.
    std::unique_ptr<GifFrame[]> frames_;
    DWORD frameCount_ = 0;
    DWORD frameSlots_ = 0;
    win32::ComRef<IPicture> picture_;
    bool isGif_ = false;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;

    // Surface and animation.
    COLORREF backgroundColor_ = 0xFFFFFF;
    std::atomic<DWORD> currentFrame_{0};
    std::atomic<DWORD> framesDrawn_{0};
    win32::MemorySurface surface_;
    // The area under a frame with disposal 3, put back when the frame is disposed.
    win32::MemorySurface savedArea_;
    win32::UniqueHandle thread_;
    win32::UniqueHandle stopEvent_;
    std::atomic<bool> stopRequested_{false};
    bool ready_ = false;
    // Keeps frame drawing and the paint copy off the surface at the same time.
    win32::CriticalSection surfaceLock_;
};

// The program's one picture control (lives for the whole process).
extern CAnimatedPictureWnd g_pictureControl;
