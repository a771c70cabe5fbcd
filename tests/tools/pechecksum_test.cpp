// PE header checksum against values that the system's MapFileAndCheckSumA
// (IMAGEHLP.DLL) reported for the same handmade images.
#include "tools/pechecksum/pe_checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A minimal file with DOS and PE signatures, e_lfanew = 0x80, a PE32 optional
// header magic and a stale checksum 0xDEADBEEF; every other byte a pattern.
std::vector<std::uint8_t> TinyImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 37 + 11) & 0xFF);
    const std::pair<std::size_t, std::uint8_t> fields[] = {
        {0x00, 'M'},  {0x01, 'Z'},                               // DOS signature
        {0x3C, 0x80}, {0x3D, 0},    {0x3E, 0},    {0x3F, 0},     // e_lfanew
        {0x80, 'P'},  {0x81, 'E'},  {0x82, 0},    {0x83, 0},     // PE signature
        {0x84, 0x4C}, {0x85, 0x01}, {0x94, 0xE0}, {0x95, 0x00},  // i386, optional header size
        {0x98, 0x0B}, {0x99, 0x01},                              // PE32 magic
        {0xD8, 0xEF}, {0xD9, 0xBE}, {0xDA, 0xAD}, {0xDB, 0xDE},  // stale checksum
    };
    for (const auto& [at, value] : fields) image[at] = value;
    return image;
}

TEST(PeChecksum, MatchesTheSystemsComputation) {
    // Odd length (the last byte is a word of its own), a page, and a file
    // whose word sum carries many times over 16 bits.
    EXPECT_EQ(pechecksum::ComputeChecksum(TinyImage(1031)), 0x00001EBBu);
    EXPECT_EQ(pechecksum::ComputeChecksum(TinyImage(4096)), 0x0000BDC7u);
    EXPECT_EQ(pechecksum::ComputeChecksum(TinyImage(70001)), 0x0001831Fu);
    EXPECT_EQ(pechecksum::ChecksumFieldOffset(TinyImage(1031)), std::optional<std::size_t>(0xD8));
    EXPECT_EQ(pechecksum::StoredChecksum(TinyImage(1031)), std::optional<std::uint32_t>(0xDEADBEEFu));
}

TEST(PeChecksum, StampedImageChecksOutUntilAByteChanges) {
    std::vector<std::uint8_t> image = TinyImage(4096);
    EXPECT_FALSE(pechecksum::HasValidChecksum(image));
    ASSERT_TRUE(pechecksum::StampChecksum(image));
    EXPECT_EQ(pechecksum::StoredChecksum(image), std::optional<std::uint32_t>(0x0000BDC7u));
    EXPECT_TRUE(pechecksum::HasValidChecksum(image));
    // The stored value does not feed into its own computation.
    EXPECT_EQ(pechecksum::ComputeChecksum(image), std::optional<std::uint32_t>(0x0000BDC7u));

    image[3000] ^= 0x5A;
    EXPECT_FALSE(pechecksum::HasValidChecksum(image));
    ASSERT_TRUE(pechecksum::StampChecksum(image));
    EXPECT_TRUE(pechecksum::HasValidChecksum(image));

    // A zero header value never counts as correct, even if nothing else changed.
    ASSERT_TRUE(pechecksum::WriteChecksum(image, 0));
    EXPECT_FALSE(pechecksum::HasValidChecksum(image));
}

TEST(PeChecksum, RejectsFilesThatAreNotPe) {
    std::vector<std::uint8_t> image = TinyImage(1031);
    std::vector<std::uint8_t> noMz = image;
    noMz[0] = 'X';
    std::vector<std::uint8_t> noPe = image;
    noPe[0x81] = 'X';
    std::vector<std::uint8_t> farLfanew = image;
    farLfanew[0x3D] = 0x40;                                              // e_lfanew = 0x4080, beyond the end
    std::vector<std::uint8_t> cut(image.begin(), image.begin() + 0xDA);  // field would run past the end
    for (auto* bad : {&noMz, &noPe, &farLfanew, &cut}) {
        EXPECT_FALSE(pechecksum::ComputeChecksum(*bad).has_value());
        EXPECT_FALSE(pechecksum::StampChecksum(*bad));
        EXPECT_FALSE(pechecksum::HasValidChecksum(*bad));
    }
    std::vector<std::uint8_t> empty;
    EXPECT_FALSE(pechecksum::ComputeChecksum(empty).has_value());
}

}  // namespace
