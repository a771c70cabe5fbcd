// The licence dialog as the user meets it: declining in any of three ways
// ends the run quietly, the agreement box governs "I agree", and the text
// shown is the packaged licence, whole.
#include "tests/e2e/support/e2e_support.h"

#include <richedit.h>

namespace e2e {
namespace {

const char kAgreeText[] = "I have read, understood and agree to the  terms of the End User License Agreement.";

// The licence rendered by a rich-edit control of this process, as the setup's
// control must show it: the same RTF streamed into the same window class.
struct StreamSource {
    const std::vector<std::uint8_t>* bytes;
    size_t position;
};

DWORD CALLBACK ReadChunk(DWORD_PTR cookie, LPBYTE buffer, LONG capacity, LONG* transferred) {
    auto* source = reinterpret_cast<StreamSource*>(cookie);
    const size_t left = source->bytes->size() - source->position;
    const size_t n = std::min<size_t>(left, static_cast<size_t>(capacity));
    std::copy_n(source->bytes->data() + source->position, n, buffer);
    source->position += n;
    *transferred = static_cast<LONG>(n);
    return 0;
}

std::optional<std::string> RenderLocally(const std::vector<std::uint8_t>& rtf) {
    char path[MAX_PATH] = {};
    ::GetSystemDirectoryA(path, MAX_PATH);
    const std::string library = std::string(path) + "\\RICHED20.DLL";
    HMODULE module = ::LoadLibraryA(library.c_str());
    if (!module) return std::nullopt;
    std::optional<std::string> text;
    HWND edit = ::CreateWindowExA(
        0, "RichEdit20A", "",
        WS_POPUP | ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL | ES_AUTOVSCROLL | ES_AUTOHSCROLL, 0, 0, 600,
        300, nullptr, nullptr, nullptr, nullptr);
    if (edit) {
        StreamSource source{&rtf, 0};
        EDITSTREAM stream{};
        stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
        stream.pfnCallback = ReadChunk;
        ::SendMessageA(edit, EM_STREAMIN, SF_RTF | SFF_PLAINRTF, reinterpret_cast<LPARAM>(&stream));
        text = ReadText(edit);
        ::DestroyWindow(edit);
    }
    ::FreeLibrary(module);
    return text;
}

// Starts the setup and returns its licence dialog, checking its opening state.
HWND OpenLicence(SetupProcess& setup, const std::string& exe) {
    if (!setup.Start(exe)) {
        ADD_FAILURE() << setup.error();
        return nullptr;
    }
    HWND licence = WaitLicence(setup);
    if (!licence) return nullptr;
    EXPECT_FALSE(IsControlEnabled(licence, IDOK)) << "\"I agree\" starts disabled";
    EXPECT_FALSE(IsChecked(licence, kAgreeBox));
    return licence;
}

void ExpectQuietEnd(SetupProcess& setup, HWND licence) {
    const auto code = setup.WaitForExit(kAppearMs);
    ASSERT_TRUE(code.has_value()) << "the setup did not end";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(NothingElseSeen(setup, {licence}));
}

bool PressIDoNotAgree(HWND licence) { return PressButton(licence, IDCANCEL); }

TEST(Licence, DialogShowsItsTextsAndEachWayOfDecliningEndsQuietly) {
    const std::pair<const char*, bool (*)(HWND)> ways[] = {
        {"I do not agree", PressIDoNotAgree}, {"close box", PressCloseBox}, {"Escape", PressEscape}};
    for (const auto& [way, decline] : ways) {
        SCOPED_TRACE(way);
        SetupProcess setup;
        HWND licence = OpenLicence(setup, SetupPath("basic"));
        ASSERT_NE(licence, nullptr);
        EXPECT_EQ(ControlText(licence, IDOK), "I agree");
        EXPECT_EQ(ControlText(licence, IDCANCEL), "I do not agree");
        EXPECT_EQ(ControlText(licence, kAgreeBox), kAgreeText);
        EXPECT_EQ(ClassName(Control(licence, kLicenceText)), "RichEdit20A");
        EXPECT_EQ(DefaultButtonId(licence), IDOK);
        EXPECT_TRUE(decline(licence));
        ExpectQuietEnd(setup, licence);
    }
}

TEST(Licence, TickingEnablesIAgreeAndUntickingDisablesItAgain) {
    SetupProcess setup;
    HWND licence = OpenLicence(setup, SetupPath("basic"));
    ASSERT_NE(licence, nullptr);
    auto settle = [&](bool enabled) {
        for (int i = 0; i < 200 && IsControlEnabled(licence, IDOK) != enabled; ++i) ::Sleep(kPollMs);
    };
    PressButton(licence, kAgreeBox);
    settle(true);
    EXPECT_TRUE(IsChecked(licence, kAgreeBox));
    EXPECT_TRUE(IsControlEnabled(licence, IDOK));
    PressButton(licence, kAgreeBox);
    settle(false);
    setup.Watch(200);
    EXPECT_FALSE(IsChecked(licence, kAgreeBox));
    EXPECT_FALSE(IsControlEnabled(licence, IDOK)) << "ticked and unticked again: \"I agree\" is disabled";
    PressButton(licence, kAgreeBox);
    settle(true);
    EXPECT_TRUE(IsControlEnabled(licence, IDOK));
    PressButton(licence, IDCANCEL);
    ExpectQuietEnd(setup, licence);
}

// The setup's licence text against the same RTF rendered here.
void ExpectShownLicence(const std::string& exe, const std::string& rtfPath, const std::string& lastLine) {
    const auto rtf = ReadWholeFile(rtfPath);
    ASSERT_TRUE(rtf.has_value()) << rtfPath;
    const auto expected = RenderLocally(*rtf);
    ASSERT_TRUE(expected.has_value()) << "no rich-edit control in this process";
    ASSERT_NE(expected->find(lastLine), std::string::npos) << "the reference rendering is whole";

    SetupProcess setup;
    HWND licence = OpenLicence(setup, exe);
    ASSERT_NE(licence, nullptr);
    const std::string shown = ControlText(licence, kLicenceText);
    EXPECT_EQ(shown.size(), expected->size());
    EXPECT_EQ(shown, *expected);
    EXPECT_NE(shown.find(lastLine), std::string::npos) << "the end of the licence is shown";
    EXPECT_EQ(shown.find("{\\rtf"), std::string::npos) << "the text is interpreted as RTF, not shown raw";
    PressButton(licence, IDCANCEL);
    ExpectQuietEnd(setup, licence);
}

TEST(Licence, ShownTextIsThePackagedLicence) {
    ExpectShownLicence(SetupPath("basic"), DataPath("License.rtf"), "Last line of the test licence.");
}

TEST(Licence, ProductSetupShowsItsLicence) {
    const std::string product = ProductSetupPath();
    if (product.empty()) GTEST_SKIP() << "the product setup is not part of this build";
    const std::string rtfPath = WindowsPath(LARKSPAN_E2E_PRODUCT_LICENSE);
    const auto rtf = ReadWholeFile(rtfPath);
    ASSERT_TRUE(rtf.has_value());
    const auto expected = RenderLocally(*rtf);
    ASSERT_TRUE(expected.has_value());
    ASSERT_GT(expected->size(), 1000u);
    // The last words of the licence stand for "shown whole".
    std::string tail = expected->substr(expected->size() - 40);
    ExpectShownLicence(product, rtfPath, tail);
}

TEST(Licence, LicenceLargerThanOneReadIsShownWhole) {
    const auto rtf = ReadWholeFile(GeneratedPath("LongLicense.rtf"));
    ASSERT_TRUE(rtf.has_value());
    ASSERT_GT(rtf->size(), 64u * 1024u) << "larger than any single read of the control";
    ExpectShownLicence(SetupPath("long_licence"), GeneratedPath("LongLicense.rtf"),
                       "Last line of the long licence: the end of the agreement.");
}

TEST(Licence, ItemNamedInOtherCaseShowsEmptyAreaAndAgreeingStillWorks) {
    SetupProcess setup;
    HWND licence = OpenLicence(setup, SetupPath("lowercase_licence"));
    ASSERT_NE(licence, nullptr);
    EXPECT_EQ(ControlText(licence, kLicenceText), "");
    HWND main = AgreeToLicence(setup);
    ASSERT_NE(main, nullptr) << "agreeing works without a licence text";
    PressButton(main, IDCANCEL);
    const auto code = setup.WaitForExit(kAppearMs);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 1u);
    EXPECT_TRUE(NothingElseSeen(setup, {licence, main}));
}

}  // namespace
}  // namespace e2e
