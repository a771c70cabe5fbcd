// The setup's animation checked block by block, and its LZW data decoded by a
// decoder written here.
#include "tools/gifgen/animation.h"
#include "tools/gifgen/gif_writer.h"
#include "tools/gifgen/lzw_encoder.h"

#include "tests/support/bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using support::Get16;

// Textbook GIF LZW decoder. Fails the test on any malformed code.
std::vector<std::uint8_t> LzwDecode(const std::vector<std::uint8_t>& data, int minCodeSize, bool* sawEnd, int* clears) {
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<std::vector<std::uint8_t>> table;
    auto reset = [&]() {
        table.clear();
        for (int i = 0; i < clear + 2; ++i) table.push_back({static_cast<std::uint8_t>(i)});
    };
    reset();
    int codeBits = minCodeSize + 1;
    std::size_t bitPos = 0;
    std::vector<std::uint8_t> out;
    int previous = -1;
    *sawEnd = false;
    *clears = 0;
    while (bitPos + static_cast<std::size_t>(codeBits) <= data.size() * 8) {
        int code = 0;
        for (int i = 0; i < codeBits; ++i, ++bitPos) {
            if (data[bitPos / 8] & (1 << (bitPos % 8))) code |= 1 << i;
        }
        if (code == clear) {
            reset();
            codeBits = minCodeSize + 1;
            previous = -1;
            ++*clears;
            continue;
        }
        if (code == end) {
            *sawEnd = true;
            // Only padding bits may follow the end code.
            EXPECT_LT(data.size() * 8 - bitPos, 8u);
            break;
        }
        std::vector<std::uint8_t> entry;
        if (code < static_cast<int>(table.size())) {
            entry = table[static_cast<std::size_t>(code)];
        } else if (code == static_cast<int>(table.size()) && previous >= 0) {
            entry = table[static_cast<std::size_t>(previous)];
            entry.push_back(entry[0]);
        } else {
            ADD_FAILURE() << "code " << code << " not in table of " << table.size();
            return out;
        }
        out.insert(out.end(), entry.begin(), entry.end());
        if (previous >= 0 && table.size() < 4096) {
            auto added = table[static_cast<std::size_t>(previous)];
            added.push_back(entry[0]);
            table.push_back(added);
        }
        previous = code;
        if (static_cast<int>(table.size()) == (1 << codeBits) && codeBits < 12) ++codeBits;
    }
    return out;
}

// Encodes and decodes again; the number of clear codes seen.
int RoundTripClears(const std::vector<std::uint8_t>& pixels, int minCodeSize) {
    bool sawEnd = false;
    int clears = 0;
    const auto decoded = LzwDecode(gifgen::LzwEncode(pixels, minCodeSize), minCodeSize, &sawEnd, &clears);
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(decoded, pixels);
    return clears;
}

TEST(LzwEncoder, RoundTripsAcrossCodeWidthsAndTableResets) {
    // Noise fills the table quickly: several resets at 4096 entries.
    std::vector<std::uint8_t> noise(60000);
    std::uint32_t s = 7;
    for (auto& v : noise) {
        s = s * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(s >> 24);
    }
    EXPECT_GE(RoundTripClears(noise, 8), 3) << "the table must have been reset on the way";

    EXPECT_EQ(RoundTripClears({}, 8), 1);
    EXPECT_EQ(RoundTripClears({42}, 8), 1);
    EXPECT_EQ(RoundTripClears(std::vector<std::uint8_t>(100000, 9), 8), 1);  // long runs: deep strings, few codes
    // Every length around the points where the code width grows and where the
    // end code itself must be written wider.
    for (std::size_t n = 250; n < 270; ++n) {
        std::vector<std::uint8_t> p(n);
        for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(i);
        SCOPED_TRACE(n);
        EXPECT_EQ(RoundTripClears(p, 8), 1);
    }
    for (std::size_t n = 3830; n < 3845; ++n) {
        std::vector<std::uint8_t> p(n);
        for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>((i * 7919u) >> 3);
        SCOPED_TRACE(n);
        RoundTripClears(p, 8);
    }
    std::vector<std::uint8_t> small(5000);
    for (std::size_t i = 0; i < small.size(); ++i) small[i] = static_cast<std::uint8_t>((i * i) % 4);
    RoundTripClears(small, 2);
}

struct Walk {
    std::size_t pos = 0;
    const std::vector<std::uint8_t>* b = nullptr;
    // Length of a sub-block chain starting at p, terminator included.
    std::size_t Chain(std::size_t p, std::vector<std::uint8_t>* data = nullptr, int* maxBlock = nullptr) const {
        std::size_t len = 0;
        while (true) {
            const std::uint8_t n = b->at(p + len);
            if (n == 0) return len + 1;
            if (maxBlock) *maxBlock = std::max(*maxBlock, static_cast<int>(n));
            if (data)
                data->insert(data->end(), b->begin() + static_cast<std::ptrdiff_t>(p + len + 1),
                             b->begin() + static_cast<std::ptrdiff_t>(p + len + 1 + n));
            len += 1 + n;
        }
    }
};

TEST(Animation, HasTheLayoutThePictureControlPlays) {
    const std::vector<std::uint8_t> gif = gifgen::MakeAnimation();
    ASSERT_GT(gif.size(), 13u + 768u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    EXPECT_EQ(Get16(gif, 6), 64u);
    EXPECT_EQ(Get16(gif, 8), 64u);
    EXPECT_EQ(gif[10] & 0x80, 0x80) << "global colour table";
    EXPECT_EQ(gif[10] & 0x07, 7) << "768-byte table";
    EXPECT_EQ(gif[11], 0);
    EXPECT_EQ(gif[12], 0);
    EXPECT_EQ(gif.back(), 0x3B) << "the trailer is the last byte";

    Walk w;
    w.b = &gif;
    w.pos = 13 + 768;
    int frames = 0;
    std::vector<std::vector<std::uint8_t>> images;
    std::size_t frameOneImageBlock = 0;
    std::vector<std::size_t> frameStarts;
    while (gif.at(w.pos) != 0x3B) {
        frameStarts.push_back(w.pos);
        SCOPED_TRACE("frame " + std::to_string(frames + 1));
        // Graphic control extension: disposal 0, no transparency, delay 10.
        ASSERT_EQ(gif.at(w.pos), 0x21);
        ASSERT_EQ(gif.at(w.pos + 1), 0xF9);
        EXPECT_EQ(gif.at(w.pos + 2), 4);
        EXPECT_EQ(gif.at(w.pos + 3), 0x00);
        EXPECT_EQ(Get16(gif, w.pos + 4), 10u);
        EXPECT_EQ(gif.at(w.pos + 7), 0);
        w.pos += 8;
        if (frames == 0) {
            // The looping extension sits inside frame 1, before its image.
            ASSERT_EQ(gif.at(w.pos), 0x21);
            ASSERT_EQ(gif.at(w.pos + 1), 0xFF);
            EXPECT_EQ(gif.at(w.pos + 2), 11);
            EXPECT_EQ(std::string(gif.begin() + static_cast<std::ptrdiff_t>(w.pos + 3),
                                  gif.begin() + static_cast<std::ptrdiff_t>(w.pos + 14)),
                      "NETSCAPE2.0");
            EXPECT_EQ(gif.at(w.pos + 14), 3);
            EXPECT_EQ(gif.at(w.pos + 15), 1);
            EXPECT_EQ(Get16(gif, w.pos + 16), 0u) << "loop for ever";
            EXPECT_EQ(w.Chain(w.pos + 14), 5u);
            w.pos += 19;
        } else {
            EXPECT_NE(gif.at(w.pos + 1), 0xFF) << "only frame 1 carries the looping extension";
        }
        // 64 x 64 image at 0,0 without a local table.
        ASSERT_EQ(gif.at(w.pos), 0x2C);
        EXPECT_EQ(Get16(gif, w.pos + 1), 0u);
        EXPECT_EQ(Get16(gif, w.pos + 3), 0u);
        EXPECT_EQ(Get16(gif, w.pos + 5), 64u);
        EXPECT_EQ(Get16(gif, w.pos + 7), 64u);
        EXPECT_EQ(gif.at(w.pos + 9), 0x00);
        EXPECT_EQ(gif.at(w.pos + 10), 8) << "LZW minimum code size";
        std::vector<std::uint8_t> lzw;
        int maxBlock = 0;
        const std::size_t chain = w.Chain(w.pos + 11, &lzw, &maxBlock);
        EXPECT_LE(maxBlock, 255);
        bool sawEnd = false;
        int clears = 0;
        images.push_back(LzwDecode(lzw, 8, &sawEnd, &clears));
        EXPECT_TRUE(sawEnd);
        EXPECT_EQ(images.back().size(), 64u * 64u);
        if (frames == 0) frameOneImageBlock = 11 + chain;
        w.pos += 11 + chain;
        ++frames;
        ASSERT_LT(w.pos, gif.size());
    }
    EXPECT_EQ(frames, 29);
    EXPECT_EQ(w.pos, gif.size() - 1) << "nothing after the trailer";
    // Frame 1 spans from the end of the colour table to the end of its image
    // block, so its stand-alone stream is 13 + 768 + 8 + 19 + image block + 1.
    ASSERT_GE(frameStarts.size(), 2u);
    EXPECT_EQ(frameStarts[0], 13u + 768u);
    EXPECT_EQ(frameStarts[1] - frameStarts[0], 8u + 19u + frameOneImageBlock);

    // The picture turns: neighbouring frames differ, and the picture is not a
    // flat fill (a light background with the mark on it).
    for (std::size_t i = 1; i < images.size(); ++i) {
        std::size_t changed = 0;
        for (std::size_t p = 0; p < images[i].size(); ++p) changed += images[i][p] != images[i - 1][p];
        EXPECT_GT(changed, 200u) << "frames " << i << " and " << i + 1 << " look alike";
    }
    EXPECT_EQ(images[0][0], 0) << "the corner shows the background, colour 0";
    const std::uint8_t* table = gif.data() + 13;
    EXPECT_GT(table[0] + table[1] + table[2], 3 * 200) << "the background is light";
    std::size_t background = 0;
    for (std::uint8_t v : images[0]) background += v == 0;
    EXPECT_GT(background, 64u * 64u / 4);
    EXPECT_LT(background, 64u * 64u * 3 / 4);
}

TEST(Animation, IsTheSameOnEveryRun) { EXPECT_EQ(gifgen::MakeAnimation(), gifgen::MakeAnimation()); }

}  // namespace
