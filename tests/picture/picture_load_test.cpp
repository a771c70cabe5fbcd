// Loading pictures into the control: the shipped animation from this
// program's resources, stills of every kind, and the loads that must fail.
#include <gtest/gtest.h>

#include <cstring>

#include "setup/setup_state.h"
#include "tests/picture/picture_test_support.h"

namespace {

using namespace picture_test;

constexpr WORD kAnimationId = 506;

Bytes ShippedAnimation() { return ResourceBytes(MAKEINTRESOURCEA(kAnimationId), "GIF"); }

TEST(ShippedAnimation, WalksAsTwentyNineFramesWithTheLoopBlockInTheFirst) {
    const Bytes bytes = ShippedAnimation();
    ASSERT_FALSE(bytes.empty()) << "GIF 506 is missing from the test program";
    CAnimatedPictureWnd control;
    GuardedBlock guarded(bytes);
    GifStreamLayout layout = control.InspectGifStream(guarded.data(), guarded.size());
    EXPECT_TRUE(layout.isGif);
    EXPECT_EQ(layout.screenWidth, 64u);
    EXPECT_EQ(layout.screenHeight, 64u);
    EXPECT_EQ(layout.globalTableSize, 768u);
    EXPECT_EQ(layout.frameCount, 29u);
    ASSERT_EQ(layout.frames.size(), 29u);
    for (const GifFrameLayout& frame : layout.frames) {
        EXPECT_EQ(frame.width, 64u);
        EXPECT_EQ(frame.height, 64u);
        EXPECT_EQ(frame.left, 0u);
        EXPECT_EQ(frame.top, 0u);
        EXPECT_EQ(frame.delay, 10u);
        EXPECT_EQ(frame.disposal, 0);
    }
    // Frame 1: graphic control (8), NETSCAPE2.0 block (19), image, trailer.
    const GifFrameLayout& first = layout.frames[0];
    ASSERT_GT(first.extent, 8u + 19u);
    const DWORD image = first.extent - 8 - 19;
    EXPECT_EQ(first.streamSize, 13 + 768 + 8 + 19 + image + 1);
    EXPECT_EQ(std::memcmp(first.stream.data() + 13 + 768 + 8, "\x21\xFF\x0BNETSCAPE2.0", 14), 0);
    EXPECT_EQ(first.stream[13 + 768 + 8 + 19], 0x2C);
    for (const GifFrameLayout& frame : layout.frames) {
        EXPECT_EQ(frame.streamSize, 14 + 768 + frame.extent);
        EXPECT_EQ(frame.stream.back(), 0x3B);
    }
    EXPECT_EQ(bytes.back(), 0x3B);
    EXPECT_EQ(layout.frames.back().offset + layout.frames.back().extent, bytes.size() - 1);
}

TEST(ShippedAnimation, LoadsFromResourceAndAMissingResourceKeepsIt) {
    CAnimatedPictureWnd control;
    ASSERT_NE(control.LoadFromResource(MAKEINTRESOURCEA(kAnimationId), "GIF"), FALSE);
    EXPECT_TRUE(control.IsGif());
    EXPECT_TRUE(control.IsReady());
    EXPECT_TRUE(control.HasAnimation());
    EXPECT_FALSE(control.HasStill());
    EXPECT_EQ(control.PictureWidth(), 64);
    EXPECT_EQ(control.PictureHeight(), 64);
    ASSERT_EQ(control.FrameCount(), 29u);
    for (DWORD i = 0; i < control.FrameCount(); ++i) {
        const GifFrame& frame = control.Frame(i);
        EXPECT_NE(frame.picture, nullptr);
        EXPECT_EQ(frame.width, 64u);
        EXPECT_EQ(frame.delay, 10u);
    }

    EXPECT_EQ(control.LoadFromResource(MAKEINTRESOURCEA(kAnimationId + 1), "GIF"), FALSE);
    EXPECT_EQ(control.LoadFromResource(MAKEINTRESOURCEA(kAnimationId), "PNG"), FALSE);
    EXPECT_EQ(control.LoadFromResource("NOSUCHPICTURE", MAKEINTRESOURCEA(10)), FALSE);
    EXPECT_EQ(control.FrameCount(), 29u);
    EXPECT_TRUE(control.IsReady());
    EXPECT_NE(control.SurfaceDc(), nullptr);
}

TEST(ShippedAnimation, ComesFromTheModuleTheSetupRecorded) {
    // The program's one control exists before any code runs, unattached and empty.
    EXPECT_EQ(g_pictureControl.m_hWnd, nullptr);
    EXPECT_FALSE(g_pictureControl.IsReady());
    EXPECT_EQ(g_pictureControl.BackgroundColor(), RGB(255, 255, 255));
    EXPECT_EQ(&g_setup.pictureControl, &g_pictureControl);

    // A module without the picture: the lookup goes there and fails.
    g_setup.instance = ::GetModuleHandleA("kernel32.dll");
    ASSERT_NE(g_setup.instance, nullptr);
    EXPECT_EQ(g_pictureControl.LoadFromResource(MAKEINTRESOURCEA(kAnimationId), "GIF"), FALSE);
    g_setup.instance = ::GetModuleHandleA(nullptr);
    EXPECT_NE(g_pictureControl.LoadFromResource(MAKEINTRESOURCEA(kAnimationId), "GIF"), FALSE);
    g_setup.instance = nullptr;  // no module recorded: the program's own
    EXPECT_NE(g_pictureControl.LoadFromResource(MAKEINTRESOURCEA(kAnimationId), "GIF"), FALSE);
    EXPECT_EQ(g_pictureControl.FrameCount(), 29u);
    g_pictureControl.Stop();
}

TEST(StillPictures, OneFrameGifIsAStillOfTheScreenSize) {
    GifBuilder gif(40, 30, Palette());
    gif.Comment("one").GraphicControl(2, 50).SolidImage(5, 5, 10, 10, 1).Trailer();
    CAnimatedPictureWnd control;
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    EXPECT_TRUE(control.IsGif());
    EXPECT_TRUE(control.HasStill());
    EXPECT_FALSE(control.HasAnimation());
    EXPECT_EQ(control.FrameCount(), 0u);
    EXPECT_EQ(control.PictureWidth(), 40);
    EXPECT_EQ(control.PictureHeight(), 30);
}

TEST(StillPictures, BitmapGetsItsSizeFromItsHimetricExtent) {
    HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    const int dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    for (SIZE size : {SIZE{64, 64}, SIZE{37, 23}}) {
        CAnimatedPictureWnd control;
        ASSERT_NE(LoadBytes(control, MakeBmp(size.cx, size.cy, kGreen)), FALSE);
        EXPECT_FALSE(control.IsGif());
        EXPECT_TRUE(control.HasStill());
        // The decoder gives HIMETRIC at the screen's resolution; the control
        // rounds back to the bitmap's own pixels.
        EXPECT_EQ(control.PictureWidth(), size.cx) << dpiX;
        EXPECT_EQ(control.PictureHeight(), size.cy) << dpiY;
    }
    // 1693 HIMETRIC at 96 pixels per inch is 63.99: MulDiv rounds to 64.
    EXPECT_EQ(::MulDiv(1693, 96, 2540), 64);
}

TEST(StillPictures, GifWithAnotherVersionLoadsAsANonGifStill) {
    GifBuilder gif(20, 10, Palette(), "88a");
    gif.GraphicControl(0, 10).SolidImage(0, 0, 20, 10, 0).GraphicControl(0, 10).SolidImage(0, 0, 20, 10, 1).Trailer();
    CAnimatedPictureWnd control;
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    EXPECT_FALSE(control.IsGif());
    EXPECT_TRUE(control.HasStill());
    EXPECT_EQ(control.FrameCount(), 0u);
    EXPECT_EQ(control.PictureWidth(), 20);
    EXPECT_EQ(control.PictureHeight(), 10);
}

TEST(FailedLoads, GifWhoseFramesAllFailToDecode) {
    GifBuilder gif(20, 20, Palette());
    gif.GraphicControl(0, 10);
    UndecodableImage(gif, 0, 0, 4, 4);
    gif.GraphicControl(0, 10);
    UndecodableImage(gif, 0, 0, 4, 4).Trailer();
    CAnimatedPictureWnd control;
    EXPECT_EQ(control.InspectGifStream(gif.bytes().data(), static_cast<DWORD>(gif.size())).frameCount, 2u);
    EXPECT_EQ(LoadBytes(control, gif.bytes()), FALSE);
    EXPECT_EQ(control.FrameCount(), 0u);
    EXPECT_FALSE(control.IsReady());
    EXPECT_EQ(control.SurfaceDc(), nullptr);
}

TEST(FailedLoads, FramesTheDecoderRejectsAreLeftOutInOrder) {
    GifBuilder gif(20, 20, Palette());
    gif.GraphicControl(0, 11).SolidImage(0, 0, 20, 20, 0);
    gif.GraphicControl(0, 12);
    UndecodableImage(gif, 0, 0, 4, 4);
    gif.GraphicControl(0, 13).SolidImage(1, 1, 5, 5, 1).Trailer();
    CAnimatedPictureWnd control;
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    ASSERT_EQ(control.FrameCount(), 2u);
    EXPECT_EQ(control.Frame(0).delay, 11u);
    EXPECT_EQ(control.Frame(1).delay, 13u);
}

TEST(FailedLoads, OnlyOneFrameDecodesLoadSucceedsButShowsNothing) {
    GifBuilder gif(20, 20, Palette());
    gif.GraphicControl(0, 10).SolidImage(0, 0, 20, 20, 0);
    gif.GraphicControl(0, 10);
    UndecodableImage(gif, 0, 0, 4, 4).Trailer();
    CAnimatedPictureWnd control;
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    EXPECT_EQ(control.FrameCount(), 1u);
    EXPECT_FALSE(control.HasStill());
    EXPECT_FALSE(control.HasAnimation());
    control.Play();
    EXPECT_FALSE(control.IsThreadRunning());
    EXPECT_EQ(control.SurfacePixel(10, 10), ::GetSysColor(COLOR_MENU));
}

TEST(FailedLoads, NothingThatDecodes) {
    CAnimatedPictureWnd control;
    EXPECT_EQ(LoadBytes(control, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}), FALSE);
    EXPECT_FALSE(control.HasStill());
    // A GIF with no frame at all.
    GifBuilder empty(10, 10, Palette());
    empty.Trailer();
    EXPECT_EQ(LoadBytes(control, empty.bytes()), FALSE);
    EXPECT_FALSE(control.IsReady());
    EXPECT_EQ(control.LoadFromMemory(nullptr, 10), FALSE);
}

TEST(FailedLoads, HostileGifsNeverReachTheDecoderOrFailToLoad) {
    CAnimatedPictureWnd control;
    // Without a global table only the frame with a local one is decoded.
    const Bytes coded = gif_test::EncodeImageData(std::vector<std::uint8_t>(64, 1), 2);
    GifBuilder mixed(8, 8, {});
    mixed.GraphicControl(0, 11).SolidImage(0, 0, 8, 8, 0).GraphicControl(0, 12);
    mixed.RawImage(0, 0, 8, 8, 4, coded[0], Bytes(coded.begin() + 1, coded.end()));
    mixed.GraphicControl(0, 13).SolidImage(0, 0, 8, 8, 0).Trailer();
    ASSERT_NE(LoadBytes(control, mixed.bytes()), FALSE);
    ASSERT_EQ(control.FrameCount(), 1u);
    EXPECT_EQ(control.Frame(0).delay, 12u);
    for (const char* version : {"89a", "88a"}) {  // the decoder takes any version for a GIF
        GifBuilder colourless(8, 8, {}, version);
        colourless.SolidImage(0, 0, 8, 8, 0).Trailer();
        EXPECT_EQ(LoadBytes(control, colourless.bytes()), FALSE) << "a one-frame GIF" << version << " without colours";
    }
    // A screen wider or higher than 4096 pixels, or more than 4096 frames.
    for (const SIZE screen : {SIZE{4097, 1}, SIZE{1, 4097}, SIZE{16384, 16384}}) {
        GifBuilder big(screen.cx, screen.cy, Palette());
        big.SolidImage(0, 0, 1, 1, 0).SolidImage(0, 0, 1, 1, 1).Trailer();
        EXPECT_EQ(LoadBytes(control, big.bytes()), FALSE) << screen.cx << " x " << screen.cy;
    }
    GifBuilder wide(4096, 1, Palette());
    wide.SolidImage(0, 0, 1, 1, 0).SolidImage(0, 0, 1, 1, 1).Trailer();
    EXPECT_NE(LoadBytes(control, wide.bytes()), FALSE);
    GifBuilder many(1, 1, Palette());
    for (int i = 0; i < 4097; ++i) many.SolidImage(0, 0, 1, 1, 0);
    many.Trailer();
    EXPECT_EQ(LoadBytes(control, many.bytes()), FALSE);
    EXPECT_FALSE(control.IsReady());
}

TEST(Loading, ASecondLoadReplacesTheFirstAndStopUnloads) {
    CAnimatedPictureWnd control;
    GifBuilder gif(30, 20, Palette());
    gif.GraphicControl(0, 10).SolidImage(0, 0, 30, 20, 0).GraphicControl(0, 10).SolidImage(0, 0, 30, 20, 1).Trailer();
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    EXPECT_EQ(control.FrameCount(), 2u);
    ASSERT_NE(LoadBytes(control, MakeBmp(12, 8, kRed)), FALSE);
    EXPECT_EQ(control.FrameCount(), 0u);
    EXPECT_TRUE(control.HasStill());
    EXPECT_FALSE(control.IsGif());
    EXPECT_EQ(control.PictureWidth(), 12);

    control.Stop();
    EXPECT_FALSE(control.HasStill());
    EXPECT_FALSE(control.IsReady());
    EXPECT_EQ(control.SurfaceDc(), nullptr);
    EXPECT_EQ(control.BackgroundColor(), RGB(255, 255, 255));
    EXPECT_EQ(control.PictureWidth(), 12);  // the size outlives the unload
    control.Play();                         // does nothing while unloaded
    EXPECT_FALSE(control.IsThreadRunning());
}

TEST(Loading, TheBlockStaysTheCallersAndUnlocked) {
    GifBuilder gif(8, 8, Palette());
    gif.GraphicControl(0, 10).SolidImage(0, 0, 8, 8, 0).GraphicControl(0, 10).SolidImage(0, 0, 8, 8, 1).Trailer();
    win32::UniqueGlobal block = MakeBlock(gif.bytes());
    CAnimatedPictureWnd control;
    ASSERT_NE(control.LoadFromMemory(block.get(), static_cast<DWORD>(gif.size())), FALSE);
    EXPECT_EQ(::GlobalFlags(block.get()) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(::GlobalFree(block.release()), nullptr);
}

}  // namespace
