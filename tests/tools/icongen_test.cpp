// The icon files read back as the system's icon loader sees them.
#include "tools/icongen/ico_writer.h"

#include "tests/support/bytes.h"

#include <gtest/gtest.h>

namespace {

using support::Get16;
using support::Get32;

TEST(IconWriter, WritesTwoSizesWithColourAndMask) {
    for (bool turned : {true, false}) {
        SCOPED_TRACE(turned ? "IDI_SETUP_FILE" : "IDI_SETUP_SMALL");
        const auto ico = icongen::WriteIcon({icongen::MarkImage(16, turned), icongen::MarkImage(32, turned)});
        ASSERT_GE(ico.size(), 6u + 32u);
        EXPECT_EQ(Get16(ico, 0), 0u);
        EXPECT_EQ(Get16(ico, 2), 1u);
        ASSERT_EQ(Get16(ico, 4), 2u);
        std::size_t expectedOffset = 6 + 2 * 16;
        for (int i = 0; i < 2; ++i) {
            const std::size_t e = 6 + 16 * static_cast<std::size_t>(i);
            const std::uint32_t n = i == 0 ? 16 : 32;
            EXPECT_EQ(ico[e], n);
            EXPECT_EQ(ico[e + 1], n);
            EXPECT_EQ(Get16(ico, e + 4), 1u);
            EXPECT_EQ(Get16(ico, e + 6), 32u);
            const std::uint32_t size = Get32(ico, e + 8), offset = Get32(ico, e + 12);
            EXPECT_EQ(offset, expectedOffset);
            const std::uint32_t maskStride = 4;  // 16 and 32 pixels both fit one 32-bit word
            EXPECT_EQ(size, 40 + n * n * 4 + maskStride * n);
            expectedOffset += size;
            ASSERT_LE(offset + size, ico.size());
            EXPECT_EQ(Get32(ico, offset), 40u);
            EXPECT_EQ(Get32(ico, offset + 4), n);
            EXPECT_EQ(Get32(ico, offset + 8), 2 * n);
            EXPECT_EQ(Get16(ico, offset + 14), 32u);
            // Corners are transparent (alpha 0, mask bit set); the centre is opaque.
            const std::size_t pixels = offset + 40;
            const std::size_t mask = pixels + n * n * 4;
            EXPECT_EQ(ico[pixels + 3], 0) << "bottom-left alpha";
            EXPECT_NE(ico[mask] & 0x80, 0) << "bottom-left mask bit";
            const std::size_t centre = pixels + ((n / 2) * n + n / 2) * 4;
            EXPECT_EQ(ico[centre + 3], 255);
            const std::size_t centreMask = mask + (n / 2) * maskStride + (n / 2) / 8;
            EXPECT_EQ(ico[centreMask] & (0x80 >> ((n / 2) % 8)), 0);
        }
        EXPECT_EQ(expectedOffset, ico.size());
    }
}

}  // namespace
