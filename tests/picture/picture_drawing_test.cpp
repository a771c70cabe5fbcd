// What the control draws into its surface, read back pixel by pixel: the
// first fill and each disposal method as the animation thread draws them, and stills.
#include <gtest/gtest.h>

#include "tests/picture/picture_test_support.h"

namespace {

using namespace picture_test;

// Gives the menu and button-face colours values of their own for the test,
// so that each fill can be told apart, and puts the old ones back after.
class SurfaceDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        const INT elements[] = {COLOR_MENU, COLOR_BTNFACE};
        savedColors_[0] = ::GetSysColor(COLOR_MENU);
        savedColors_[1] = ::GetSysColor(COLOR_BTNFACE);
        const COLORREF distinct[] = {kMenu, kButtonFace};
        ASSERT_TRUE(::SetSysColors(2, elements, distinct));
        ASSERT_EQ(::GetSysColor(COLOR_MENU), kMenu);
        ASSERT_EQ(::GetSysColor(COLOR_BTNFACE), kButtonFace);
    }
    void TearDown() override {
        const INT elements[] = {COLOR_MENU, COLOR_BTNFACE};
        ::SetSysColors(2, elements, savedColors_);
    }

    // Expects every pixel of the rectangle to be color.
    void ExpectArea(CAnimatedPictureWnd& control, RECT area, COLORREF color, const char* what) {
        int wrong = 0;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                COLORREF seen = control.SurfacePixel(x, y);
                if (seen != color && wrong++ < 3) {
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex << seen << " instead of "
                                  << color;
                }
            }
        }
    }

    static constexpr COLORREF kMenu = RGB(0x12, 0x34, 0x56);
    static constexpr COLORREF kButtonFace = RGB(0xAB, 0xCD, 0xEF);
    COLORREF savedColors_[2] = {};
};

// Plays the animation on its own thread until it has drawn count frames. The
// last frame of every test picture holds for 655 s, so the thread then sits
// in that frame's wait and the surface stays as it is while it is read.
void PlayUntilDrawn(CAnimatedPictureWnd& control, DWORD count) {
    control.Play();
    ASSERT_TRUE(control.IsThreadRunning());
    for (int i = 0; i < 1000 && control.FramesDrawn() < count; ++i) ::Sleep(10);
    ASSERT_EQ(control.FramesDrawn(), count);
}

constexpr int kHold = 65535;

// Each animation played until its last frame is drawn. Before the first frame
// the surface holds the menu colour; frame 0 clears all of it to the button
// face first.
TEST_F(SurfaceDrawing, FramesAndDisposalsAsTheThreadDrawsThem) {
    struct Area {
        RECT rect;
        COLORREF color;
        const char* what;
    };
    struct Case {
        const char* what;
        Bytes gif;
        DWORD frames;
        std::vector<Area> areas;
    };
    GifBuilder first(16, 12, Palette());
    first.GraphicControl(0, kHold).SolidImage(0, 0, 4, 4, 0).GraphicControl(0, 10).SolidImage(0, 0, 4, 4, 1).Trailer();
    GifBuilder two(20, 20, Palette());
    two.GraphicControl(0, 1).SolidImage(0, 0, 20, 20, 0);      // red everywhere
    two.GraphicControl(2, 1).SolidImage(4, 4, 6, 6, 1);        // blue square, cleared after
    two.GraphicControl(0, kHold).SolidImage(15, 15, 2, 2, 2);  // green dot
    two.Trailer();
    GifBuilder three(20, 20, Palette());
    three.GraphicControl(0, 1).SolidImage(0, 0, 20, 20, 0);      // red
    three.GraphicControl(1, 1).SolidImage(0, 0, 10, 10, 1);      // blue quarter stays
    three.GraphicControl(3, 1).SolidImage(5, 5, 8, 8, 2);        // green over both, restored after
    three.GraphicControl(0, kHold).SolidImage(19, 19, 1, 1, 3);  // white corner
    three.Trailer();
    const Case cases[] = {
        {"the first frame",
         first.bytes(),
         1,
         {{{0, 0, 4, 4}, kRed, "frame 0"}, {{4, 0, 16, 12}, kButtonFace, "around frame 0"}}},
        {"disposal 2 clears only the frame's rectangle",
         two.bytes(),
         3,
         {{{4, 4, 10, 10}, kButtonFace, "frame 1 disposed"},
          {{0, 0, 20, 4}, kRed, "above"},
          {{0, 10, 15, 20}, kRed, "below"},
          {{0, 4, 4, 10}, kRed, "left"},
          {{10, 4, 20, 10}, kRed, "right"},
          {{15, 15, 17, 17}, kGreen, "frame 2"}}},
        {"disposal 3 restores exactly what lay under the frame",
         three.bytes(),
         4,
         {{{0, 0, 10, 10}, kBlue, "blue quarter restored"},
          {{10, 0, 19, 20}, kRed, "red right half restored"},
          {{0, 10, 10, 20}, kRed, "red bottom restored"},
          {{19, 19, 20, 20}, kWhite, "frame 3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAnimatedPictureWnd control;
        EXPECT_EQ(control.BackgroundColor(), RGB(255, 255, 255));
        ASSERT_NE(LoadBytes(control, c.gif), FALSE);
        EXPECT_EQ(control.BackgroundColor(), kButtonFace);
        const RECT all{0, 0, control.PictureWidth(), control.PictureHeight()};
        ExpectArea(control, all, kMenu, "before the first frame");
        ASSERT_NO_FATAL_FAILURE(PlayUntilDrawn(control, c.frames));
        for (const Area& area : c.areas) ExpectArea(control, area.rect, area.color, area.what);
    }
}

TEST_F(SurfaceDrawing, StillIsDrawnOnceAtTheOriginOverTheButtonFaceWithoutAThread) {
    // One-frame GIF whose index 3 is transparent: the fill shows through.
    GifBuilder gif(10, 8, Palette());
    std::vector<std::uint8_t> pixels(80, 0);
    for (int x = 0; x < 10; ++x) pixels[static_cast<std::size_t>(7 * 10 + x)] = 3;
    gif.GraphicControl(0, 10, 3).Image(0, 0, 10, 8, pixels).Trailer();
    CAnimatedPictureWnd control;
    ASSERT_NE(LoadBytes(control, gif.bytes()), FALSE);
    ExpectArea(control, RECT{0, 0, 10, 8}, kMenu, "before Play");
    control.Play();
    EXPECT_FALSE(control.IsThreadRunning());
    EXPECT_EQ(control.FramesDrawn(), 0u);
    ExpectArea(control, RECT{0, 0, 10, 7}, kRed, "still");
    ExpectArea(control, RECT{0, 7, 10, 8}, kButtonFace, "transparent row");

    CAnimatedPictureWnd bitmap;
    ASSERT_NE(LoadBytes(bitmap, MakeBmp(9, 5, kGreen)), FALSE);
    bitmap.Play();
    EXPECT_FALSE(bitmap.IsThreadRunning());
    ExpectArea(bitmap, RECT{0, 0, 9, 5}, kGreen, "bitmap still");
}

}  // namespace
