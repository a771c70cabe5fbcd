// The setup checks its own file before it shows anything: a copy with one
// altered byte and a re-stamped header checksum is refused with one error
// message; a header checksum of 0 switches the check off; a file whose checksum
// matches passes (an altered one stamped afresh, and the intact copy beside
// the planted DLL); and an IMAGEHLP.DLL planted beside the setup is never used.
#include "tests/e2e/support/e2e_support.h"
#include "tools/pechecksum/pe_checksum.h"

#include <algorithm>

namespace e2e {
namespace {

// The product setup, or (when this build has no product program) a test
// variant, which is made by the same function from the same resources.
std::string SetupUnderTest() {
    const std::string product = ProductSetupPath();
    return product.empty() ? SetupPath("basic") : product;
}

// The text of the licence dialog's decline button as it lies in the file
// (UTF-16 in the dialog template): an altered byte there is harmless to run.
const std::string kDeclineText = "I do not agree";

std::optional<size_t> FindUtf16(const std::vector<std::uint8_t>& bytes, const std::string& text) {
    std::vector<std::uint8_t> pattern;
    for (char c : text) {
        pattern.push_back(static_cast<std::uint8_t>(c));
        pattern.push_back(0);
    }
    auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    if (at == bytes.end()) return std::nullopt;
    return static_cast<size_t>(at - bytes.begin());
}

enum class HeaderChecksum {
    Original,  // the stamp of the unaltered file: it no longer matches
    Zero,      // no checksum: the check is off
    Fresh,     // stamped again over the altered file: it matches
};

// Copies the setup into the folder with the "I" of "I do not agree" made a
// "J" and the header checksum as asked.
std::string AlteredCopy(const TempFolder& folder, HeaderChecksum checksum) {
    auto image = ReadWholeFile(SetupUnderTest());
    if (!image) {
        ADD_FAILURE() << "cannot read " << SetupUnderTest();
        return {};
    }
    EXPECT_TRUE(pechecksum::HasValidChecksum(*image)) << "the built setup carries a valid, non-zero checksum";
    const auto original = pechecksum::StoredChecksum(*image);
    const auto at = FindUtf16(*image, kDeclineText);
    if (!at || !original) {
        ADD_FAILURE() << "the dialog text was not found in the setup file";
        return {};
    }
    const auto field = pechecksum::ChecksumFieldOffset(*image);
    EXPECT_TRUE(field && *at > *field + 0x200) << "the altered byte lies outside the headers";
    (*image)[*at] = 'J';
    switch (checksum) {
        case HeaderChecksum::Original:
            EXPECT_TRUE(pechecksum::WriteChecksum(*image, *original));
            EXPECT_NE(pechecksum::ComputeChecksum(*image), original) << "the alteration changes the checksum";
            break;
        case HeaderChecksum::Zero:
            EXPECT_TRUE(pechecksum::WriteChecksum(*image, 0));
            break;
        case HeaderChecksum::Fresh:
            EXPECT_TRUE(pechecksum::StampChecksum(*image));
            EXPECT_TRUE(pechecksum::HasValidChecksum(*image));
            break;
    }
    const std::string copy = folder / "Larkspan-Setup.exe";
    EXPECT_TRUE(WriteWholeFile(copy, *image));
    return copy;
}

// Makes Wine prefer a native DLL found on the search path to its own builtin
// one, for programs of one file name (as Windows always does), for the
// scope's lifetime. Only the test prefix's registry is touched.
class ScopedNativeDllPreference {
public:
    ScopedNativeDllPreference(const std::string& exeName, const char* dll)
        : appKey_("Software\\Wine\\AppDefaults\\" + exeName) {
        HKEY key = nullptr;
        const std::string path = appKey_ + "\\DllOverrides";
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            const char value[] = "native,builtin";
            ok_ = ::RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value) ==
                  ERROR_SUCCESS;
            ::RegCloseKey(key);
        }
    }
    ~ScopedNativeDllPreference() {
        ::RegDeleteKeyA(HKEY_CURRENT_USER, (appKey_ + "\\DllOverrides").c_str());
        ::RegDeleteKeyA(HKEY_CURRENT_USER, appKey_.c_str());
    }
    [[nodiscard]] bool ok() const { return ok_; }

private:
    std::string appKey_;
    bool ok_ = false;
};

// Declines the licence and expects the quiet end with exit code 0.
void DeclineAndExpectQuietEnd(SetupProcess& setup, HWND licence) {
    PressButton(licence, IDCANCEL);
    const auto code = setup.WaitForExit(kAppearMs);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(NothingElseSeen(setup, {licence}));
}

// An altered copy is refused only when its header checksum no longer matches
// its contents: a checksum guards against damage, not against deliberate
// change, and a checksum of 0 means none.
struct AlteredCase {
    const char* name;
    HeaderChecksum checksum;
    bool refused;
};
void PrintTo(const AlteredCase& c, std::ostream* out) { *out << c.name; }

class AlteredSetup : public ::testing::TestWithParam<AlteredCase> {};

TEST_P(AlteredSetup, IsRefusedWithOneErrorMessageOnlyWhenItsChecksumIsStale) {
    const AlteredCase& c = GetParam();
    TempFolder folder(std::string("integrity-") + c.name);
    const std::string copy = AlteredCopy(folder, c.checksum);
    ASSERT_FALSE(copy.empty());
    ASSERT_NE(ReadWholeFile(copy), ReadWholeFile(SetupUnderTest()));

    SetupProcess setup;
    ASSERT_TRUE(setup.Start(copy, folder.path())) << setup.error();
    if (!c.refused) {
        HWND licence = WaitLicence(setup);
        ASSERT_NE(licence, nullptr);
        EXPECT_EQ(ControlText(licence, IDCANCEL), "J do not agree") << "it is the altered file that runs";
        DeclineAndExpectQuietEnd(setup, licence);
        return;
    }
    HWND box = setup.WaitForMessageBox(kAppearMs);
    ASSERT_NE(box, nullptr) << "no message appeared; seen:\n" << Describe(setup.seen());
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, kChecksumText);
    EXPECT_EQ(info.icon, IconKind::Error) << "icon: " << IconName(info.icon);
    EXPECT_NE(info.caption, kCaption) << "the integrity message carries no caption of its own";
    EXPECT_EQ(info.caption, "Error") << "the system's default caption for errors";
    EXPECT_EQ(info.owner, nullptr);
    ASSERT_EQ(info.buttons.size(), 1u);
    EXPECT_EQ(info.buttons[0].first, IDOK);
    PressButton(box, IDOK);
    const auto code = setup.WaitForExit(kAppearMs);
    ASSERT_TRUE(code.has_value()) << "the setup did not end after the message";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(NothingElseSeen(setup, {box}));
}

INSTANTIATE_TEST_SUITE_P(HeaderChecksum, AlteredSetup,
                         ::testing::Values(AlteredCase{"StaleChecksum", HeaderChecksum::Original, true},
                                           AlteredCase{"ZeroChecksum", HeaderChecksum::Zero, false},
                                           AlteredCase{"FreshChecksum", HeaderChecksum::Fresh, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Integrity, PlantedImagehlpBesideTheSetupIsNotLoaded) {
    TempFolder folder("integrity-planted");
    const std::string setupCopy = folder / "Planted-Setup.exe";
    const std::string planted = folder / "IMAGEHLP.DLL";
    const std::string trace = folder / "imagehlp-loaded.txt";
    ASSERT_TRUE(CopyFileTo(SetupUnderTest(), setupCopy));
    ASSERT_TRUE(CopyFileTo(WindowsPath(LARKSPAN_E2E_FAKE_IMAGEHLP), planted));

    // Wine prefers its own IMAGEHLP.DLL to one found on the search path; make
    // it take a planted one, as Windows does, for both programs run here.
    ScopedNativeDllPreference forNaive("Recorder-imagehlp.exe", "imagehlp");
    ScopedNativeDllPreference forSetup("Planted-Setup.exe", "imagehlp");
    ASSERT_TRUE(forNaive.ok() && forSetup.ok());

    // The planted DLL is a real threat here: a program in the folder that
    // loads IMAGEHLP.DLL by its bare name gets it.
    const std::string naive = folder / "Recorder-imagehlp.exe";
    ASSERT_TRUE(CopyFileTo(RecorderPath(), naive));
    SetupProcess control;
    ASSERT_TRUE(control.Start(naive, folder.path())) << control.error();
    ASSERT_TRUE(control.WaitForExit(kAppearMs).has_value());
    const RecorderLog log = ReadRecorderLog(folder / "recorder.log");
    EXPECT_EQ(log.get("imagehlp"), planted) << "a bare-name load picks the planted DLL";
    ASSERT_TRUE(FileExists(trace)) << "the planted DLL leaves its trace when loaded";
    ASSERT_TRUE(::DeleteFileA(trace.c_str()));

    SetupProcess setup;
    ASSERT_TRUE(setup.Start(setupCopy, folder.path())) << setup.error();
    HWND licence = WaitLicence(setup);
    ASSERT_NE(licence, nullptr) << "the setup refused itself: it used the planted DLL";
    DeclineAndExpectQuietEnd(setup, licence);
    EXPECT_FALSE(FileExists(trace)) << "the planted IMAGEHLP.DLL was loaded into the setup";
}

}  // namespace
}  // namespace e2e
