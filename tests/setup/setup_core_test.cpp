// Parts of the setup that need the system but no window: the system's error
// text and the licence reader that feeds the rich-edit control.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "setup/format_last_error.h"
#include "setup/license_dialog.h"
#include "setup/setup_state.h"
#include "tools/packer/zip_packer.h"
#include "common/load_system_library.h"

namespace {

TEST(FormatLastError, GivesTheSystemsTextForTheLastError) {
    char expected[512];
    ASSERT_NE(0u,
              FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), expected, sizeof(expected), nullptr));
    char text[260];
    SetLastError(ERROR_FILE_NOT_FOUND);
    const unsigned length = FormatLastError(text, sizeof(text));
    EXPECT_STREQ(expected, text);
    EXPECT_EQ(strlen(expected), length);
}

TEST(FormatLastError, CutsATextLongerThanTheBuffer) {
    char full[260];
    SetLastError(ERROR_ACCESS_DENIED);
    const unsigned fullLength = FormatLastError(full, sizeof(full));
    ASSERT_GT(fullLength, 6u);
    std::vector<char> small(7 + 4, '#');
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(6u, FormatLastError(small.data(), 7));
    EXPECT_EQ(std::string(full, 6), std::string(small.data()));
    EXPECT_EQ(std::string(4, '#'), std::string(small.data() + 7, 4));
}

TEST(FormatLastError, LeavesAnEmptyBufferWithoutASystemText) {
    char text[260] = "stale";
    SetLastError(0x2FFFFFFF);  // no system text for it
    EXPECT_EQ(0u, FormatLastError(text, sizeof(text)));
    EXPECT_STREQ("", text);
}

class LicenseStreamReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 1000; ++i) text_.push_back(static_cast<BYTE>('a' + i % 26));
        g_licenseStream.licenseBuffer = text_.data();
        g_licenseStream.licenseLength = static_cast<DWORD>(text_.size());
        g_licenseStream.licensePosition = 0;
    }
    void TearDown() override { g_licenseStream = LicenseStreamState{nullptr, 0, 0}; }

    std::vector<BYTE> text_;
};

TEST_F(LicenseStreamReadTest, HandsOverTheWholeTextInReadsNoLargerThanOffered) {
    std::vector<BYTE> received;
    BYTE chunk[300];
    LONG count = -1;
    int reads = 0;
    do {
        ASSERT_EQ(0u, LicenseStreamRead(0, chunk, sizeof(chunk), &count));
        ASSERT_GE(count, 0);
        ASSERT_LE(count, static_cast<LONG>(sizeof(chunk)));
        received.insert(received.end(), chunk, chunk + count);
        ++reads;
    } while (count != 0 && reads < 100);
    EXPECT_EQ(text_, received);
    EXPECT_EQ(5, reads);  // 300, 300, 300, 100, then 0
}

TEST_F(LicenseStreamReadTest, RefusesMissingBuffers) {
    LONG count = 0;
    BYTE chunk[8];
    EXPECT_EQ(1u, LicenseStreamRead(0, nullptr, 8, &count));
    EXPECT_EQ(1u, LicenseStreamRead(0, chunk, 8, nullptr));
    EXPECT_EQ(0u, g_licenseStream.licensePosition);
}

TEST_F(LicenseStreamReadTest, GivesNothingWithoutAText) {
    g_licenseStream = LicenseStreamState{nullptr, 0, 0};
    BYTE chunk[8];
    LONG count = -1;
    EXPECT_EQ(0u, LicenseStreamRead(0, chunk, sizeof(chunk), &count));
    EXPECT_EQ(0, count);
}

// The reader feeds a real rich-edit control: the RTF arrives as text.
TEST_F(LicenseStreamReadTest, FeedsARichEditControl) {
    HMODULE richEdit = win32::LoadSystemLibrary("RICHED20.DLL");
    ASSERT_NE(nullptr, richEdit);
    HWND edit = CreateWindowExA(0, "RichEdit20A", "", WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 400, 300, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, edit);
    std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 ";
    std::string body;
    for (int i = 0; i < 2000; ++i) body += "Orvane ";  // far more than one read
    rtf += "{\\b Larkspan} licence " + body + "}";
    std::vector<BYTE> bytes(rtf.begin(), rtf.end());
    g_licenseStream = LicenseStreamState{bytes.data(), static_cast<DWORD>(bytes.size()), 0};
    EDITSTREAM stream{};
    stream.pfnCallback = LicenseStreamRead;
    SendMessageA(edit, EM_STREAMIN, SF_RTF | SFF_PLAINRTF, reinterpret_cast<LPARAM>(&stream));
    EXPECT_EQ(0u, stream.dwError);
    EXPECT_EQ(bytes.size(), g_licenseStream.licensePosition);
    std::vector<char> shown(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1);
    GetWindowTextA(edit, shown.data(), static_cast<int>(shown.size()));
    EXPECT_EQ(0u, std::string(shown.data()).find("Larkspan licence Orvane Orvane"));
    EXPECT_EQ(std::string::npos, std::string(shown.data()).find("\\b"));
    DestroyWindow(edit);
    FreeLibrary(richEdit);
}

// The licence as the dialog loads it from a module's payload (IDR_PAYLOAD,
// written into a copy of this program): a whole, intact item is shown; one
// with a wrong CRC-32 or deflate data that ends early shows nothing at all.
TEST(LoadLicenseText, ShowsOnlyAWholeIntactItem) {
    HMODULE richEdit = win32::LoadSystemLibrary("RICHED20.DLL");
    ASSERT_NE(nullptr, richEdit);
    char self[MAX_PATH] = {}, temp[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, MAX_PATH));
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    const std::string copy = std::string(temp) + "larkspan-licence-module.exe";
    const HINSTANCE savedInstance = g_setup.instance;
    packer::Item item;
    item.name = "License.rtf";
    const std::string rtf = "{\\rtf1\\ansi Larkspan licence " + std::string(3000, 'x') + "}";
    item.data.assign(rtf.begin(), rtf.end());
    // Nothing changed; the CRC-32's low byte (local offset 14) or the declared size's (22) raised in both headers.
    for (const std::size_t field : {0, 14, 22}) {
        packer::Packed packed = packer::Pack({item});
        for (std::size_t header : {packed.items[0].localHeaderOffset, packed.items[0].centralHeaderOffset + 2}) {
            if (field != 0) packed.bytes[header + field] += 10;
        }
        ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
        HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
        ASSERT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(118), 1033, packed.bytes.data(),
                                    static_cast<DWORD>(packed.bytes.size())));
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
        HMODULE module = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module);
        g_setup.instance = module;
        HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        HWND edit = CreateWindowExA(0, "RichEdit20A", "", WS_CHILD | ES_MULTILINE | ES_READONLY, 0, 0, 400, 300, parent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(1010)), nullptr, nullptr);
        LoadLicenseText(parent, 1010);
        std::vector<char> shown(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1);
        GetWindowTextA(edit, shown.data(), static_cast<int>(shown.size()));
        EXPECT_EQ(field == 0 ? "Larkspan licence xxx" : "", std::string(shown.data()).substr(0, 20)) << field;
        ReleaseLicenseText();
        DestroyWindow(parent);
        g_setup.instance = savedInstance;
        FreeLibrary(module);
    }
    DeleteFileA(copy.c_str());
    FreeLibrary(richEdit);
}

}  // namespace
