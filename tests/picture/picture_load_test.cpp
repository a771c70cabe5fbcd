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
    ASSERT_FALSE(bytes.empty()) << "IDR_ANIMATION is missing from the test program";
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
        EXPECT_TRUE(frame.picture);
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

// Pictures shown as one still: a one-frame GIF at its screen's size, bitmaps
// at their own pixel size (the decoder gives HIMETRIC at the screen's
// resolution, the control rounds back), and a GIF of another version, which
// loads as a still that is no GIF.
TEST(StillPictures, LoadAsOneStillOfTheirOwnSize) {
    struct Case {
        const char* what;
        Bytes bytes;
        bool isGif;
        int width, height;
    };
    GifBuilder oneFrame(40, 30, Palette());
    oneFrame.Comment("one").GraphicControl(2, 50).SolidImage(5, 5, 10, 10, 1).Trailer();
    GifBuilder otherVersion(20, 10, Palette(), "88a");
    otherVersion.GraphicControl(0, 10).SolidImage(0, 0, 20, 10, 0);
    otherVersion.GraphicControl(0, 10).SolidImage(0, 0, 20, 10, 1).Trailer();
    const Case cases[] = {
        {"one-frame GIF", oneFrame.bytes(), true, 40, 30},
        {"square bitmap", MakeBmp(64, 64, kGreen), false, 64, 64},
        {"oblong bitmap", MakeBmp(37, 23, kGreen), false, 37, 23},
        {"two-frame GIF88a", otherVersion.bytes(), false, 20, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAnimatedPictureWnd control;
        ASSERT_NE(LoadBytes(control, c.bytes), FALSE);
        EXPECT_EQ(control.IsGif(), c.isGif);
        EXPECT_TRUE(control.HasStill());
        EXPECT_FALSE(control.HasAnimation());
        EXPECT_EQ(control.FrameCount(), 0u);
        EXPECT_EQ(control.PictureWidth(), c.width);
        EXPECT_EQ(control.PictureHeight(), c.height);
    }
}

// A load that fails leaves the control unloaded, whatever it held before.
TEST(FailedLoads, LeaveTheControlUnloaded) {
    CAnimatedPictureWnd control;
    GifBuilder undecodable(20, 20, Palette());
    undecodable.GraphicControl(0, 10);
    UndecodableImage(undecodable, 0, 0, 4, 4);
    undecodable.GraphicControl(0, 10);
    UndecodableImage(undecodable, 0, 0, 4, 4).Trailer();
    ASSERT_EQ(control.InspectGifStream(undecodable.bytes().data(), static_cast<DWORD>(undecodable.size())).frameCount,
              2u);
    GifBuilder empty(10, 10, Palette());
    empty.Trailer();
    GifBuilder colourless89(8, 8, {}), colourless88(8, 8, {}, "88a");  // the decoder takes any version for a GIF
    colourless89.SolidImage(0, 0, 8, 8, 0).Trailer();
    colourless88.SolidImage(0, 0, 8, 8, 0).Trailer();
    GifBuilder wide(4097, 1, Palette()), high(1, 4097, Palette());
    wide.SolidImage(0, 0, 1, 1, 0).SolidImage(0, 0, 1, 1, 1).Trailer();
    high.SolidImage(0, 0, 1, 1, 0).SolidImage(0, 0, 1, 1, 1).Trailer();
    GifBuilder many(1, 1, Palette());
    for (int i = 0; i < 4097; ++i) many.SolidImage(0, 0, 1, 1, 0);
    many.Trailer();
    const std::pair<const char*, Bytes> cases[] = {
        {"a GIF whose frames all fail to decode", undecodable.bytes()},
        {"no picture at all", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}},
        {"a GIF with no frame", empty.bytes()},
        {"a one-frame GIF89a without colours", colourless89.bytes()},
        {"a one-frame GIF88a without colours", colourless88.bytes()},
        {"a screen wider than 4096 pixels", wide.bytes()},
        {"a screen higher than 4096 pixels", high.bytes()},
        {"more than 4096 frames", many.bytes()},
    };
    GifBuilder before(8, 8, Palette());
    before.GraphicControl(0, 10).SolidImage(0, 0, 8, 8, 0).GraphicControl(0, 10).SolidImage(0, 0, 8, 8, 1).Trailer();
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        ASSERT_NE(LoadBytes(control, before.bytes()), FALSE);
        EXPECT_EQ(LoadBytes(control, bytes), FALSE);
        EXPECT_FALSE(control.IsReady());
        EXPECT_FALSE(control.HasStill());
        EXPECT_EQ(control.FrameCount(), 0u);
        EXPECT_EQ(control.SurfaceDc(), nullptr);
    }
    ASSERT_NE(LoadBytes(control, before.bytes()), FALSE);
    EXPECT_EQ(control.LoadFromMemory(nullptr, 10), FALSE);
    EXPECT_FALSE(control.IsReady());
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

// Frames the decoder rejects, and frames without colours (no global table and
// no local one), are left out; the others keep their order. A screen 4096
// pixels wide is still taken.
TEST(FailedLoads, FramesThatCannotBeDecodedAreLeftOutInOrder) {
    GifBuilder rejected(20, 20, Palette());
    rejected.GraphicControl(0, 11).SolidImage(0, 0, 20, 20, 0).GraphicControl(0, 12);
    UndecodableImage(rejected, 0, 0, 4, 4);
    rejected.GraphicControl(0, 13).SolidImage(1, 1, 5, 5, 1).Trailer();
    const Bytes coded = picture_test::EncodeImageData(std::vector<std::uint8_t>(64, 1), 2);
    GifBuilder colourless(8, 8, {});
    colourless.GraphicControl(0, 11).SolidImage(0, 0, 8, 8, 0).GraphicControl(0, 12);
    colourless.RawImage(0, 0, 8, 8, 4, coded[0], Bytes(coded.begin() + 1, coded.end()));
    colourless.GraphicControl(0, 13).SolidImage(0, 0, 8, 8, 0).Trailer();
    GifBuilder wide(4096, 1, Palette());
    wide.GraphicControl(0, 14).SolidImage(0, 0, 1, 1, 0).GraphicControl(0, 15).SolidImage(0, 0, 1, 1, 1).Trailer();
    struct Case {
        const char* what;
        Bytes bytes;
        std::vector<DWORD> delays;
    };
    const Case cases[] = {{"a frame the decoder rejects", rejected.bytes(), {11, 13}},
                          {"frames without colours", colourless.bytes(), {12}},
                          {"a screen 4096 pixels wide", wide.bytes(), {14, 15}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAnimatedPictureWnd control;
        ASSERT_NE(LoadBytes(control, c.bytes), FALSE);
        ASSERT_EQ(control.FrameCount(), c.delays.size());
        for (DWORD i = 0; i < c.delays.size(); ++i) EXPECT_EQ(control.Frame(i).delay, c.delays[i]) << i;
    }
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
