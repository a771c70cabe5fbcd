// The animation thread's timing: frame delays, stop requests during long
// delays, repeated stops and resuming where the animation was stopped.
#include <gtest/gtest.h>

#include "tests/picture/picture_test_support.h"

namespace {

using namespace picture_test;

// Waits (bounded, 10 s) until the thread has drawn at least count frames.
bool WaitForFramesDrawn(const CAnimatedPictureWnd& control, DWORD count) {
    for (int i = 0; i < 1000; ++i) {
        if (control.FramesDrawn() >= count) return true;
        ::Sleep(10);
    }
    return false;
}

// Two full-size frames: red with delay first, then blue with delay second.
Bytes TwoFrames(int first, int second, int secondDisposal = 0) {
    GifBuilder gif(8, 8, Palette());
    gif.GraphicControl(0, first).SolidImage(0, 0, 8, 8, 0);
    gif.GraphicControl(secondDisposal, second).SolidImage(0, 0, 8, 8, 1);
    gif.Trailer();
    return gif.bytes();
}

TEST(FrameTiming, DelaysMapToWaits) {
    for (DWORD delay = 0; delay < 5; ++delay) EXPECT_EQ(CAnimatedPictureWnd::FrameWaitMs(delay), 100u) << delay;
    EXPECT_EQ(CAnimatedPictureWnd::FrameWaitMs(5), 50u);
    EXPECT_EQ(CAnimatedPictureWnd::FrameWaitMs(10), 100u);
    EXPECT_EQ(CAnimatedPictureWnd::FrameWaitMs(65535), 655350u);
    // A frame without a graphic control extension holds until stopped.
    EXPECT_EQ(CAnimatedPictureWnd::FrameWaitMs(0xFFFFFFFFu), 4294967286u);
}

// StopThread cuts the frame's 655 s wait short and keeps the frames; stopping
// again, or with nothing loaded, is harmless.
TEST(FrameTiming, StopThreadCutsALongDelayShortAndStoppingTwiceIsHarmless) {
    CAnimatedPictureWnd control;
    control.StopThread();  // nothing loaded, no thread
    control.Stop();
    ASSERT_NE(LoadBytes(control, TwoFrames(65535, 65535)), FALSE);
    control.Play();
    ASSERT_TRUE(control.IsThreadRunning());
    ASSERT_TRUE(WaitForFramesDrawn(control, 1));
    // The frame's delay is 655 s: a stop that waited it out would keep the
    // test from ending before its time limit.
    control.StopThread();
    EXPECT_FALSE(control.IsThreadRunning());
    EXPECT_EQ(control.FramesDrawn(), 1u);
    EXPECT_EQ(control.CurrentFrame(), 0u);  // the frame was neither disposed nor passed
    EXPECT_TRUE(control.IsReady());
    control.StopThread();
    EXPECT_EQ(control.FrameCount(), 2u);  // StopThread keeps the frames
    control.Stop();
    control.Stop();
    EXPECT_EQ(control.FrameCount(), 0u);
    EXPECT_FALSE(control.IsReady());

    // A stop event left signalled would let the next animation race through
    // its 655 s delays; it must hold at its first frame instead.
    ASSERT_NE(LoadBytes(control, TwoFrames(65535, 65535)), FALSE);
    const DWORD before = control.FramesDrawn();
    control.Play();
    ASSERT_TRUE(WaitForFramesDrawn(control, before + 1));
    ::Sleep(300);
    EXPECT_EQ(control.FramesDrawn(), before + 1);
    EXPECT_EQ(control.CurrentFrame(), 0u);
    control.Stop();
}

TEST(FrameTiming, PlayAfterStopThreadResumesAtTheCurrentFrame) {
    CAnimatedPictureWnd control;
    // Frame 0 red for 100 ms; frame 1 blue but for its transparent top row,
    // holding, and cleared on disposal.
    GifBuilder gif(8, 8, Palette());
    std::vector<std::uint8_t> pixels(64, 1);
    for (int x = 0; x < 8; ++x) pixels[static_cast<std::size_t>(x)] = 3;
    gif.GraphicControl(0, 1).SolidImage(0, 0, 8, 8, 0).GraphicControl(2, 65535, 3).Image(0, 0, 8, 8, pixels).Trailer();
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    control.Play();
    ASSERT_TRUE(WaitForFramesDrawn(control, 2));
    control.StopThread();
    ASSERT_EQ(control.CurrentFrame(), 1u);
    EXPECT_EQ(control.SurfacePixel(4, 4), kBlue);
    EXPECT_EQ(control.SurfacePixel(0, 0), kRed);

    // Mark the top row, which frame 1 leaves as it finds it: a restart at
    // frame 0 would show red there, a resume without frame 1's disposal the
    // mark, and a resume with it the background under frame 1 again.
    ::SetPixel(control.SurfaceDc(), 0, 0, kGreen);
    const DWORD before = control.FramesDrawn();
    control.Play();
    control.Play();  // a second Play while the thread runs starts no second one
    ASSERT_TRUE(WaitForFramesDrawn(control, before + 1));
    ::Sleep(300);
    control.StopThread();
    EXPECT_EQ(control.FramesDrawn(), before + 1);
    EXPECT_EQ(control.CurrentFrame(), 1u);
    EXPECT_EQ(control.SurfacePixel(0, 0), control.BackgroundColor());
    EXPECT_EQ(control.SurfacePixel(7, 7), kBlue);
}

TEST(FrameTiming, ShortDelaysWaitATenthOfASecondOnTheThread) {
    // Delays 0-4 each hold 100 ms: one lap of these five frames takes 500 ms,
    // against 100 ms if they were taken in hundredths. The bound only limits
    // how many frames can be drawn, which a loaded machine makes fewer.
    GifBuilder gif(4, 4, Palette());
    for (int delay = 0; delay < 5; ++delay) gif.GraphicControl(0, delay).SolidImage(0, 0, 4, 4, 0);
    gif.Trailer();
    CAnimatedPictureWnd control;
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    control.Play();
    ASSERT_TRUE(WaitForFramesDrawn(control, 1));
    const ULONGLONG started = ::GetTickCount64();
    const DWORD before = control.FramesDrawn();
    ::Sleep(1000);
    const DWORD drawn = control.FramesDrawn() - before;
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    control.Stop();
    EXPECT_LE(drawn, elapsed / 60 + 3) << "in " << elapsed << " ms";
}

TEST(FrameTiming, AnimationLoopsForEverUntilStopped) {
    CAnimatedPictureWnd control;
    GifBuilder gif(8, 8, Palette());
    gif.Netscape(1);  // a loop count, which the control does not honour
    gif.GraphicControl(0, 0).SolidImage(0, 0, 8, 8, 0).GraphicControl(0, 0).SolidImage(0, 0, 8, 8, 1).Trailer();
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    control.Play();
    EXPECT_TRUE(WaitForFramesDrawn(control, 5));  // past the stream's one loop
    control.Stop();
    EXPECT_FALSE(control.IsThreadRunning());
    EXPECT_EQ(control.FrameCount(), 0u);
}

}  // namespace
