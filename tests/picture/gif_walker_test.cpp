// The GIF walker on hand-built streams: where frames begin and end, which
// blocks belong to them, and where the walk stops.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/picture/picture_test_support.h"

namespace {

using namespace picture_test;

// 13 header and screen bytes plus a 4-entry global table.
constexpr DWORD kHead = 13 + 12;

GifStreamLayout Walk(const Bytes& bytes) {
    CAnimatedPictureWnd control;
    GuardedBlock guarded(bytes);
    return control.InspectGifStream(guarded.data(), guarded.size());
}

GifStreamLayout WalkPrefix(const Bytes& bytes, std::size_t size) {
    return Walk(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)));
}

TEST(GifWalker, RecognisesOnlyGif87aAndGif89a) {
    const BYTE gif87[] = "GIF87a";
    const BYTE gif89[] = "GIF89a";
    const BYTE gif88[] = "GIF88a";
    const BYTE png[] = "\x89PNG\r\n";
    EXPECT_TRUE(CAnimatedPictureWnd::IsGifStream(gif87, 6));
    EXPECT_TRUE(CAnimatedPictureWnd::IsGifStream(gif89, 6));
    EXPECT_FALSE(CAnimatedPictureWnd::IsGifStream(gif88, 6));
    EXPECT_FALSE(CAnimatedPictureWnd::IsGifStream(png, 6));
    EXPECT_FALSE(CAnimatedPictureWnd::IsGifStream(gif89, 5));
}

TEST(GifWalker, BlockEndingExactlyAtTheEndCountsOneByteShortDoesNot) {
    // No trailer: the second image's chain ends with the stream's last byte.
    GifBuilder gif(8, 8, Palette());
    gif.GraphicControl(0, 10).SolidImage(0, 0, 8, 8, 0).GraphicControl(1, 20).SolidImage(2, 2, 4, 4, 1);
    const Bytes& bytes = gif.bytes();
    GifStreamLayout whole = Walk(bytes);
    EXPECT_EQ(whole.frameCount, 2u);
    ASSERT_EQ(whole.frames.size(), 2u);
    EXPECT_EQ(whole.frames[1].offset + whole.frames[1].extent, bytes.size());

    // Every shorter stream loses the second frame, and none is read past its end.
    for (std::size_t cut = 1; cut <= whole.frames[1].extent; ++cut) {
        GifStreamLayout shorter = WalkPrefix(bytes, bytes.size() - cut);
        EXPECT_EQ(shorter.frameCount, 1u) << "cut " << cut;
        EXPECT_EQ(shorter.frames.size(), 1u) << "cut " << cut;
    }
}

TEST(GifWalker, ExtensionsBeforeTheControlBlockBelongToNoFrameThoseAfterToTheFrame) {
    GifBuilder gif(8, 8, Palette());
    gif.Comment("before");
    gif.Netscape(0);
    const DWORD frameStart = static_cast<DWORD>(gif.size());
    gif.GraphicControl(2, 7);
    const DWORD commentAt = static_cast<DWORD>(gif.size());
    gif.Comment("inside");
    const DWORD commentLength = static_cast<DWORD>(gif.size()) - commentAt;
    gif.SolidImage(1, 2, 3, 4, 1);
    const DWORD frameEnd = static_cast<DWORD>(gif.size());
    gif.Trailer();

    GifStreamLayout layout = Walk(gif.bytes());
    ASSERT_EQ(layout.frames.size(), 1u);
    const GifFrameLayout& frame = layout.frames[0];
    EXPECT_EQ(frame.offset, frameStart);
    EXPECT_EQ(frame.extent, frameEnd - frameStart);
    EXPECT_EQ(frame.delay, 7u);
    EXPECT_EQ(frame.disposal, 2);
    EXPECT_EQ(frame.left, 1u);
    EXPECT_EQ(frame.top, 2u);
    EXPECT_EQ(frame.width, 3u);
    EXPECT_EQ(frame.height, 4u);

    // The stand-alone stream: the source's head, the frame's bytes (with the
    // inner comment, without the outer extensions) and a trailer.
    const Bytes& source = gif.bytes();
    ASSERT_EQ(frame.streamSize, 14 + 12 + frame.extent);
    ASSERT_EQ(frame.stream.size(), frame.streamSize);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + kHead, frame.stream.begin()));
    EXPECT_TRUE(std::equal(source.begin() + frameStart, source.begin() + frameEnd, frame.stream.begin() + kHead));
    EXPECT_EQ(frame.stream.back(), 0x3B);
    EXPECT_EQ(frame.stream[kHead + 8], 0x21);
    EXPECT_EQ(frame.stream[kHead + 9], 0xFE);
    EXPECT_EQ(frame.stream[kHead + 8 + commentLength], 0x2C);
}

TEST(GifWalker, TwoControlBlocksBeforeOneImageMakeOneFrameValuedByTheFirst) {
    GifBuilder gif(8, 8, Palette());
    gif.GraphicControl(2, 30).GraphicControl(3, 70).SolidImage(0, 0, 8, 8, 0).Trailer();
    GifStreamLayout layout = Walk(gif.bytes());
    EXPECT_EQ(layout.frameCount, 1u);
    ASSERT_EQ(layout.frames.size(), 1u);
    EXPECT_EQ(layout.frames[0].delay, 30u);
    EXPECT_EQ(layout.frames[0].disposal, 2);
    EXPECT_EQ(layout.frames[0].offset, kHead);
    EXPECT_EQ(layout.frames[0].extent, gif.size() - 1 - kHead);
}

TEST(GifWalker, ImageWithoutControlBlockIsAFrameWithoutDelay) {
    GifBuilder gif(8, 8, Palette());
    gif.GraphicControl(2, 5).SolidImage(0, 0, 8, 8, 0);
    const DWORD second = static_cast<DWORD>(gif.size());
    gif.SolidImage(4, 5, 2, 3, 1).Trailer();
    GifStreamLayout layout = Walk(gif.bytes());
    ASSERT_EQ(layout.frames.size(), 2u);
    EXPECT_EQ(layout.frames[1].offset, second);
    EXPECT_EQ(layout.frames[1].delay, 0xFFFFFFFFu);
    EXPECT_EQ(layout.frames[1].disposal, 0);
    EXPECT_EQ(layout.frames[1].left, 4u);
    EXPECT_EQ(layout.frames[1].top, 5u);
    EXPECT_EQ(layout.frames[1].width, 2u);
    EXPECT_EQ(layout.frames[1].height, 3u);
}

TEST(GifWalker, ImageChainOfJustTheTerminatorAndLocalTableLengths) {
    GifBuilder gif(8, 8, Palette());
    const DWORD first = static_cast<DWORD>(gif.size());
    gif.RawImage(0, 0, 2, 2, 0, 2, Bytes{0});
    const DWORD second = static_cast<DWORD>(gif.size());
    gif.RawImage(0, 0, 2, 2, 8, 2, Bytes{0});  // 8-entry local table: 24 bytes
    gif.Trailer();
    GifStreamLayout layout = Walk(gif.bytes());
    ASSERT_EQ(layout.frames.size(), 2u);
    EXPECT_EQ(layout.frames[0].offset, first);
    EXPECT_EQ(layout.frames[0].extent, 11u + 1u);
    EXPECT_EQ(layout.frames[1].offset, second);
    EXPECT_EQ(layout.frames[1].extent, 11u + 24u + 1u);
}

// Where the walk stops: at the trailer, at a block it does not know, and at a
// block that runs into the end of the stream, whose frame then does not count.
TEST(GifWalker, FramesCountUpToWhereTheWalkStops) {
    const auto gif = [] { return GifBuilder(8, 8, Palette()); };
    struct Case {
        const char* what;
        DWORD frames;
        Bytes bytes;
    };
    const Case cases[] = {
        {"a trailer before any frame", 0, gif().Trailer().GraphicControl(0, 10).SolidImage(0, 0, 8, 8, 0).bytes()},
        {"a complete frame after the trailer", 2,
         gif()
             .GraphicControl(0, 10)
             .SolidImage(0, 0, 8, 8, 0)
             .GraphicControl(0, 10)
             .SolidImage(0, 0, 8, 8, 1)
             .Trailer()
             .GraphicControl(0, 10)
             .SolidImage(0, 0, 8, 8, 2)
             .Trailer()
             .bytes()},
        {"a well-formed block with an unknown label", 1,
         gif()
             .GraphicControl(0, 10)
             .SolidImage(0, 0, 8, 8, 0)
             .Raw(Bytes{0x21, 0x77, 0x02, 0x01, 0x02, 0x00})
             .GraphicControl(0, 10)
             .SolidImage(0, 0, 8, 8, 1)
             .Trailer()
             .bytes()},
        {"another byte where a block should start", 1,
         gif().SolidImage(0, 0, 8, 8, 0).Raw(Bytes{0x00}).SolidImage(0, 0, 8, 8, 1).Trailer().bytes()},
        {"an image chain running into the end", 1,  // a sub-block of 9 with 2 bytes left
         gif()
             .GraphicControl(0, 10)
             .SolidImage(0, 0, 8, 8, 0)
             .GraphicControl(0, 10)
             .RawImage(0, 0, 8, 8, 0, 2, Bytes{5, 1, 2, 3, 4, 5, 9, 1, 2})
             .bytes()},
        {"a comment running into the end before any frame", 0,
         gif().Raw(Bytes{0x21, 0xFE, 3, 'a', 'b', 'c', 4, 'd'}).bytes()},
        {"a graphic control extension cut short", 1,
         gif().SolidImage(0, 0, 8, 8, 0).Raw(Bytes{0x21, 0xF9, 4, 0, 10}).bytes()},
        {"nothing after the header", 0, gif().bytes()},
        {"a lone extension introducer at the end", 0, gif().Raw(Bytes{0x21}).bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const GifStreamLayout layout = Walk(c.bytes);
        EXPECT_TRUE(layout.isGif);
        EXPECT_EQ(layout.frameCount, c.frames);
        EXPECT_EQ(layout.frames.size(), c.frames);
    }
}

TEST(GifWalker, StreamTooShortForItsScreenDescriptorOrColourTableIsRejected) {
    GifBuilder gif(8, 8, Palette());
    gif.SolidImage(0, 0, 8, 8, 0).SolidImage(0, 0, 8, 8, 1).Trailer();
    const Bytes& bytes = gif.bytes();
    for (std::size_t size : {std::size_t{6}, std::size_t{12}, std::size_t{13}, std::size_t{24}}) {
        GifStreamLayout layout = WalkPrefix(bytes, size);
        EXPECT_EQ(layout.frameCount, 0u) << size;
        EXPECT_EQ(layout.globalTableSize, 0u) << size;

        CAnimatedPictureWnd control;
        EXPECT_EQ(LoadBytes(control, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size))), FALSE)
            << size;
        EXPECT_FALSE(control.IsReady());
    }
    GifStreamLayout full = WalkPrefix(bytes, 25);
    EXPECT_EQ(full.globalTableSize, 12u);
    EXPECT_EQ(full.screenWidth, 8u);
    EXPECT_EQ(full.screenHeight, 8u);
}

}  // namespace
