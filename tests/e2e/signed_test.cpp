// A setup signed as makers sign it (the signature's certificate table appended
// after the payload, the header checksum stamped again afterwards) passes its
// own integrity check and installs; one altered byte in the signed file is
// still refused by that check.
#include "tests/e2e/support/e2e_support.h"
#include "tools/pechecksum/pe_checksum.h"
#include "tools/pechecksum/pe_sizes.h"

#include <algorithm>

namespace e2e {
namespace {

// The certificate table entry of the optional header's data directories
// (offset and size); {0, 0} when the file has none or is not a PE file.
constexpr std::uint32_t kSecurityDirectoryEntry = 4;

std::pair<std::uint32_t, std::uint32_t> CertificateTable(const std::vector<std::uint8_t>& image) {
    const auto entry =
        pechecksum::DataDirectory(image, kSecurityDirectoryEntry).value_or(pechecksum::DataDirectoryEntry{});
    return {entry.address, entry.size};
}

TEST(Signed, SignedSetupPassesItsCheckAndInstalls) {
    const std::string signedSetup = SetupPath("signed");
    const auto image = ReadWholeFile(signedSetup);
    ASSERT_TRUE(image.has_value());
    const auto [tableOffset, tableSize] = CertificateTable(*image);
    ASSERT_NE(tableSize, 0u) << "the setup carries a signature";
    EXPECT_EQ(tableOffset + tableSize, image->size()) << "the certificate table ends the file";
    EXPECT_TRUE(pechecksum::HasValidChecksum(*image)) << "stamped over the signed file";

    TempFolder folder("signed");
    SetupProcess setup;
    HWND main = StartToMainDialog(setup, signedSetup);
    ASSERT_NE(main, nullptr) << "the signed setup stopped before its main dialog";
    InstallInto(main, folder.path());
    EXPECT_EQ(FinishWithReport(setup).box.text, kString112);
    EXPECT_EQ(ReadWholeFile(folder / "readme.txt"), ReadWholeFile(DataPath("readme.txt")));
}

// One altered byte anywhere in the signed file is refused: in the payload,
// which the signature covers, and in the certificate table itself, which
// the header checksum covers as the system's image-help library computes it.
TEST(Signed, SignedSetupWithOneAlteredByteIsRefused) {
    const auto original = ReadWholeFile(SetupPath("signed"));
    const auto readme = ReadWholeFile(DataPath("readme.txt"));
    ASSERT_TRUE(original && readme && readme->size() > 16);
    // The readme is stored as it is: its bytes lie in the payload resource.
    const auto payloadAt = std::search(original->begin(), original->end(), readme->begin(), readme->begin() + 16);
    ASSERT_NE(payloadAt, original->end()) << "the stored item was not found in the setup file";
    const auto [tableOffset, tableSize] = CertificateTable(*original);
    ASSERT_GT(tableSize, 0u);
    const struct {
        const char* where;
        std::size_t offset;
    } cases[] = {
        {"payload", static_cast<std::size_t>(payloadAt - original->begin())},
        {"certificate table", tableOffset + tableSize / 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        auto image = *original;
        image[c.offset] ^= 0x01;
        TempFolder folder("signed-altered");
        const std::string copy = folder / "Larkspan-Setup.exe";
        ASSERT_TRUE(WriteWholeFile(copy, image));

        SetupProcess setup;
        ASSERT_TRUE(setup.Start(copy, folder.path())) << setup.error();
        HWND box = setup.WaitForMessageBox(kAppearMs);
        ASSERT_NE(box, nullptr) << "no message appeared; seen:\n" << Describe(setup.seen());
        EXPECT_EQ(ReadMessageBox(box).text, kChecksumText);
        PressButton(box, IDOK);
        EXPECT_EQ(setup.WaitForExit(kAppearMs), 0u);
        EXPECT_TRUE(NothingElseSeen(setup, {box}));
    }
}

}  // namespace
}  // namespace e2e
