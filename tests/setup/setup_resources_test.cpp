// The resources of the built setup files, read as a user's system reads them:
// each file is opened as a data file and its dialogs, texts, icons, animation,
// payload, version record and manifest are checked, together with the PE
// header (machine, subsystem, checksum).
#include "tests/support/bytes.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>

#include <cstring>
#include <string>
#include <vector>

#ifndef LARKSPAN_OWN_SETUP
#error "LARKSPAN_OWN_SETUP must name the setup file of this build"
#endif
#ifndef LARKSPAN_X86_SETUP
#error "LARKSPAN_X86_SETUP must name the 32-bit product setup file"
#endif

namespace {

constexpr WORD kMachineI386 = 0x14C;
constexpr WORD kMachineAmd64 = 0x8664;
constexpr WORD kLangEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct SetupFile {
    const char* label;
    const char* path;
};

std::ostream& operator<<(std::ostream& out, const SetupFile& file) { return out << file.label << " " << file.path; }

using support::FileExists;
using support::ReadWholeFile;

template <typename T>
T ReadAt(const std::vector<unsigned char>& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// ---- Dialog templates ------------------------------------------------------

struct ControlTemplate {
    int id;
    std::string className;
    std::string text;
    short x, y, cx, cy;
    DWORD style;
};

struct DialogTemplate {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0;
    std::string fontName;
    std::vector<ControlTemplate> controls;
};

class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }
    template <typename T>
    T Read() {
        T value{};
        if (position_ + sizeof(T) > size_) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, data_ + position_, sizeof(T));
        position_ += sizeof(T);
        return value;
    }
    std::string ReadWideString() {
        std::string text;
        for (;;) {
            const WORD c = Read<WORD>();
            if (!ok_ || c == 0) break;
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }
    // A name or an ordinal (0xFFFF followed by the number).
    std::string ReadNameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0) return "";
        if (first == 0xFFFF) return "#" + std::to_string(Read<WORD>());
        position_ -= sizeof(WORD);
        return ReadWideString();
    }
    void AlignToDword() { position_ = (position_ + 3) & ~static_cast<std::size_t>(3); }
    void Skip(std::size_t bytes) { position_ += bytes; }

private:
    const BYTE* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

std::string ClassName(const std::string& name) {
    if (name == "#128") return "button";
    if (name == "#129") return "edit";
    if (name == "#130") return "static";
    if (name == "#131") return "listbox";
    if (name == "#132") return "scrollbar";
    if (name == "#133") return "combobox";
    return name;
}

bool ParseDialog(const BYTE* data, DWORD size, DialogTemplate* dialog) {
    TemplateReader in(data, size);
    const WORD version = in.Read<WORD>();
    const WORD signature = in.Read<WORD>();
    const bool extended = version == 1 && signature == 0xFFFF;
    WORD count = 0;
    if (extended) {
        in.Read<DWORD>();  // help id
        in.Read<DWORD>();  // extended style
        dialog->style = in.Read<DWORD>();
    } else {
        dialog->style = MAKELONG(version, signature);
        in.Read<DWORD>();  // extended style
    }
    count = in.Read<WORD>();
    dialog->x = in.Read<short>();
    dialog->y = in.Read<short>();
    dialog->cx = in.Read<short>();
    dialog->cy = in.Read<short>();
    in.ReadNameOrOrdinal();  // menu
    in.ReadNameOrOrdinal();  // window class
    dialog->caption = in.ReadWideString();
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = in.Read<WORD>();
        if (extended) {
            in.Read<WORD>();  // weight
            in.Read<BYTE>();  // italic
            in.Read<BYTE>();  // character set
        }
        dialog->fontName = in.ReadWideString();
    }
    for (WORD i = 0; i < count && in.ok(); ++i) {
        in.AlignToDword();
        ControlTemplate control{};
        if (extended) {
            in.Read<DWORD>();  // help id
            in.Read<DWORD>();  // extended style
            control.style = in.Read<DWORD>();
        } else {
            control.style = in.Read<DWORD>();
            in.Read<DWORD>();
        }
        control.x = in.Read<short>();
        control.y = in.Read<short>();
        control.cx = in.Read<short>();
        control.cy = in.Read<short>();
        control.id = extended ? static_cast<int>(in.Read<DWORD>()) : static_cast<short>(in.Read<WORD>());
        control.className = ClassName(in.ReadNameOrOrdinal());
        control.text = in.ReadNameOrOrdinal();
        in.Skip(in.Read<WORD>());  // creation data
        dialog->controls.push_back(control);
    }
    return in.ok();
}

// ---- Expected resources ----------------------------------------------------

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

struct ExpectedDialog {
    int id;
    const char* caption;
    DWORD style;  // without DS_SETFONT, which the font adds
    short cx, cy;
    std::vector<ControlTemplate> controls;
};

const std::vector<ExpectedDialog>& ExpectedDialogs() {
    static const std::vector<ExpectedDialog> dialogs = {
        {137,
         "License agreement",
         kDialogStyle,
         482,
         242,
         {
             {1, "button", "I agree", 156, 221, 74, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
             {2, "button", "I do not agree", 252, 221, 74, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
             {1000, "button", "I have read, understood and agree to the  terms of the End User License Agreement.", 69,
              190, 343, 27, kChild | BS_AUTOCHECKBOX | WS_TABSTOP},
             {1010, "RichEdit20A", "", 7, 7, 468, 181,
              kChild | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_AUTOHSCROLL | ES_NOHIDESEL | ES_READONLY},
         }},
        {138,
         "Larkspan Setup",
         kDialogStyle,
         269,
         105,
         {
             {1, "button", "Install", 69, 84, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
             {2, "button", "Cancel", 150, 84, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
             {1011, "edit", "", 7, 60, 226, 13, kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
             {-1, "static", "The program will be installed in this folder:", 7, 50, 241, 10,
              kChild | SS_LEFT | WS_GROUP},
             {1012, "button", "...", 236, 60, 26, 13, kChild | BS_PUSHBUTTON | WS_TABSTOP},
             {1006, "static", "This program will install the Orvane Larkspan on your computer.", 102, 7, 160, 24,
              kChild | SS_LEFT | WS_GROUP},
             {507, "static", "", 7, 7, 65, 42, kChild | SS_BLACKFRAME},
         }},
        {139,
         "Larkspan Setup",
         kDialogStyle | DS_CENTER,
         207,
         90,
         {
             {2, "button", "Cancel", 150, 69, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
             {-1, "static", "Copying file:", 7, 7, 193, 11, kChild | SS_LEFT | WS_GROUP},
             {1003, "static", "", 7, 16, 193, 33, kChild | SS_LEFT | WS_GROUP},
             {1002, "msctls_progress32", "", 7, 51, 193, 12, kChild | WS_BORDER},
         }},
    };
    return dialogs;
}

const std::vector<std::pair<UINT, std::string>>& ExpectedStrings() {
    static const std::vector<std::pair<UINT, std::string>> strings = {
        {103, "Larkspan Setup"},
        {104, "C:\\Program Files\\Orvane\\Larkspan"},
        {106, "Folder '%s' does not yet exist.\nDo you want to create it?"},
        {107, "Folder '%s' cannot be created.\nPlease choose another location."},
        {108, "Are you sure you want to abort the installation?"},
        {109, "Choose a location:"},
        {110, "There is not enough memory available."},
        {112,
         "The program has successfully been installed.\n\nYou can start it from the Windows Start menu, in the "
         "folder Program Files / Orvane."},
        {113, "The program was not completely installed."},
        {114, "The program cannot be installed."},
        {115,
         "The registration of the program in the system registry was not possible.\nIf you are installing on "
         "Windows NT, 2000, XP or 2003, then please make sure you have Administrator rights."},
        {116, "An unexpected situation was encountered."},
    };
    return strings;
}

// ---- The test fixture: one setup file --------------------------------------

class SetupFileTest : public ::testing::TestWithParam<SetupFile> {
protected:
    void SetUp() override {
        path_ = GetParam().path;
        if (!FileExists(path_)) {
            if (std::strcmp(path_, LARKSPAN_OWN_SETUP) != 0) {
                GTEST_SKIP() << "the 32-bit setup " << path_
                             << " has not been built: it comes from the separate 32-bit build (build/win32)";
            }
            FAIL() << "the setup of this build is missing: " << path_;
        }
        module_ = LoadLibraryExA(path_, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module_) << "cannot open " << path_ << " as a data file, error " << GetLastError();
        bytes_ = ReadWholeFile(path_).value_or(support::Bytes());
        ASSERT_GT(bytes_.size(), 0x200u);
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    std::string Resource(LPCSTR type, LPCSTR name, WORD language = kLangEnglishUs) {
        HRSRC resource = FindResourceExA(module_, type, name, language);
        if (resource == nullptr) return std::string();
        HGLOBAL loaded = LoadResource(module_, resource);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data == nullptr) return std::string();
        return std::string(static_cast<const char*>(data), SizeofResource(module_, resource));
    }

    WORD Machine() const { return ReadAt<WORD>(bytes_, PeOffset() + 4); }
    std::size_t PeOffset() const { return ReadAt<DWORD>(bytes_, 0x3C); }
    std::size_t OptionalHeader() const { return PeOffset() + 24; }

    const char* path_ = nullptr;
    HMODULE module_ = nullptr;
    std::vector<unsigned char> bytes_;
};

TEST_P(SetupFileTest, IsAWindowsGuiProgramForItsMachine) {
    ASSERT_EQ(0, std::memcmp(bytes_.data(), "MZ", 2));
    ASSERT_EQ(0, std::memcmp(bytes_.data() + PeOffset(), "PE\0\0", 4));
    const bool x86 = std::strcmp(path_, LARKSPAN_X86_SETUP) == 0;
    EXPECT_EQ(x86 ? kMachineI386 : kMachineAmd64, Machine());
    const WORD magic = ReadAt<WORD>(bytes_, OptionalHeader());
    EXPECT_EQ(x86 ? 0x10B : 0x20B, magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, ReadAt<WORD>(bytes_, OptionalHeader() + 68));
}

TEST_P(SetupFileTest, CarriesAValidNonZeroHeaderChecksum) {
    const DWORD stored = ReadAt<DWORD>(bytes_, OptionalHeader() + 64);
    EXPECT_NE(0u, stored);
    DWORD headerSum = 0;
    DWORD computedSum = 0;
    ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS),
              MapFileAndCheckSumA(const_cast<char*>(path_), &headerSum, &computedSum));
    EXPECT_EQ(stored, headerSum);
    EXPECT_NE(0u, computedSum);
    EXPECT_EQ(headerSum, computedSum);
}

TEST_P(SetupFileTest, HasTheThreeDialogsAsDesigned) {
    for (const ExpectedDialog& expected : ExpectedDialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(expected.id));
        const std::string data = Resource(RT_DIALOG, MAKEINTRESOURCEA(expected.id));
        ASSERT_FALSE(data.empty());
        DialogTemplate dialog;
        ASSERT_TRUE(ParseDialog(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), &dialog));
        EXPECT_EQ(expected.caption, dialog.caption);
        EXPECT_EQ(expected.style, dialog.style & ~static_cast<DWORD>(DS_SETFONT));
        EXPECT_EQ(0, dialog.style & WS_VISIBLE);
        EXPECT_EQ(0, dialog.x);
        EXPECT_EQ(0, dialog.y);
        EXPECT_EQ(expected.cx, dialog.cx);
        EXPECT_EQ(expected.cy, dialog.cy);
        EXPECT_EQ("MS Shell Dlg", dialog.fontName);
        EXPECT_EQ(8, dialog.pointSize);
        ASSERT_EQ(expected.controls.size(), dialog.controls.size());
        for (std::size_t i = 0; i < expected.controls.size(); ++i) {
            const ControlTemplate& want = expected.controls[i];
            const ControlTemplate& got = dialog.controls[i];
            SCOPED_TRACE("control " + std::to_string(want.id));
            EXPECT_EQ(want.id, got.id);
            // Window class names are matched without regard to case.
            EXPECT_EQ(0, lstrcmpiA(want.className.c_str(), got.className.c_str())) << got.className;
            EXPECT_EQ(want.text, got.text);
            EXPECT_EQ(want.x, got.x);
            EXPECT_EQ(want.y, got.y);
            EXPECT_EQ(want.cx, got.cx);
            EXPECT_EQ(want.cy, got.cy);
            EXPECT_EQ(want.style, got.style) << std::hex << got.style;
        }
    }
}

TEST_P(SetupFileTest, HasEveryTextOfTheStringTable) {
    for (const auto& [id, text] : ExpectedStrings()) {
        char buffer[1024] = {};
        const int length = LoadStringA(module_, id, buffer, sizeof(buffer));
        EXPECT_EQ(text, std::string(buffer)) << "string " << id;
        EXPECT_EQ(static_cast<int>(text.size()), length) << "string " << id;
    }
    char buffer[64] = "x";
    EXPECT_EQ(0, LoadStringA(module_, 105, buffer, sizeof(buffer)));
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
    auto* names = reinterpret_cast<std::vector<ULONG_PTR>*>(list);
    names->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0);
    return TRUE;
}

TEST_P(SetupFileTest, HasIconGroups107And117WithSmallAndLargeImages) {
    std::vector<ULONG_PTR> groups;
    EnumResourceNamesA(module_, RT_GROUP_ICON, CollectName, reinterpret_cast<LONG_PTR>(&groups));
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(107u, groups.front()) << "the file's icon is the first group";
    for (int id : {107, 117}) {
        SCOPED_TRACE("icon group " + std::to_string(id));
        const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(id));
        ASSERT_GE(group.size(), 6u);
        const auto* bytes = reinterpret_cast<const BYTE*>(group.data());
        WORD type, count;
        std::memcpy(&type, bytes + 2, 2);
        std::memcpy(&count, bytes + 4, 2);
        EXPECT_EQ(1, type);
        ASSERT_EQ(group.size(), 6u + 14u * count);
        bool has16 = false, has32 = false;
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = bytes + 6 + 14 * i;
            WORD iconId;
            std::memcpy(&iconId, entry + 12, 2);
            has16 |= entry[0] == 16 && entry[1] == 16;
            has32 |= entry[0] == 32 && entry[1] == 32;
            EXPECT_FALSE(Resource(RT_ICON, MAKEINTRESOURCEA(iconId)).empty()) << "image " << iconId;
        }
        EXPECT_TRUE(has16);
        EXPECT_TRUE(has32);
        HICON small = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        EXPECT_NE(nullptr, small);
        if (small) DestroyIcon(small);
    }
}

TEST_P(SetupFileTest, HasTheAnimationAsGif506) {
    const std::string gif = Resource("GIF", MAKEINTRESOURCEA(506));
    ASSERT_GT(gif.size(), 800u);  // header, 768-byte colour table, frames
    EXPECT_EQ("GIF89a", gif.substr(0, 6));
    EXPECT_EQ(';', gif.back());
}

TEST_P(SetupFileTest, CarriesThePayloadWithTheProgramFirst) {
    EXPECT_EQ(nullptr,
              FindResourceExA(module_, RT_RCDATA, MAKEINTRESOURCEA(118), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)));
    const std::string payload = Resource(RT_RCDATA, MAKEINTRESOURCEA(118), 1033);
    ASSERT_GT(payload.size(), 30u);
    EXPECT_EQ(std::string("\x50\x55\x55\x04", 4), payload.substr(0, 4)) << "local header signature";
    const auto nameLength = static_cast<unsigned char>(payload[26]) | static_cast<unsigned char>(payload[27]) << 8;
    EXPECT_EQ("Larkspan.exe", payload.substr(30, nameLength));
    EXPECT_NE(std::string::npos, payload.find("License.rtf"));
}

TEST_P(SetupFileTest, HasVersionRecord2800) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path_, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path_, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(MAKELONG(80, 2), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(80, 2), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    const std::pair<const char*, const char*> values[] = {
        {"CompanyName", "Orvane"},   {"ProductName", "Larkspan"},    {"FileDescription", "Larkspan Setup"},
        {"FileVersion", "2.80.0.0"}, {"ProductVersion", "2.80.0.0"},
    };
    for (const auto& [key, value] : values) {
        char* text = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_STREQ(value, text) << key;
    }
}

// The attribute `name` of the element that starts at `element` in `xml`.
std::string Attribute(const std::string& xml, std::size_t element, const char* name) {
    const std::size_t end = xml.find('>', element);
    const std::string key = std::string(" ") + name + "=\"";
    const std::size_t at = xml.find(key, element);
    if (at == std::string::npos || at > end) return "<none>";
    const std::size_t start = at + key.size();
    return xml.substr(start, xml.find('"', start) - start);
}

TEST_P(SetupFileTest, HasItsManifest) {
    const std::string manifest = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
    ASSERT_FALSE(manifest.empty());
    const std::size_t own = manifest.find("<assemblyIdentity");
    ASSERT_NE(std::string::npos, own);
    EXPECT_EQ("Larkspan Setup", Attribute(manifest, own, "name"));
    EXPECT_EQ("2.80.0.0", Attribute(manifest, own, "version"));
    EXPECT_EQ(Machine() == kMachineI386 ? "x86" : "amd64", Attribute(manifest, own, "processorArchitecture"));

    const std::size_t dependency = manifest.find("<assemblyIdentity", manifest.find("<dependentAssembly"));
    ASSERT_NE(std::string::npos, dependency);
    EXPECT_EQ("Microsoft.Windows.Common-Controls", Attribute(manifest, dependency, "name"));
    EXPECT_EQ("6.0.0.0", Attribute(manifest, dependency, "version"));
    EXPECT_EQ("*", Attribute(manifest, dependency, "processorArchitecture"));
    EXPECT_EQ("6595b64144ccf1df", Attribute(manifest, dependency, "publicKeyToken"));

    const std::size_t settings = manifest.find("<asmv3:windowsSettings");
    ASSERT_NE(std::string::npos, settings);
    EXPECT_GT(settings, manifest.find("<asmv3:application"));
    EXPECT_NE(std::string::npos, manifest.find("<dpiAware>true</dpiAware>", settings));

    // Elevated wherever it runs, never virtualised, whether or not the system
    // detects installers by their file names.
    const std::size_t level = manifest.find("<asmv3:requestedExecutionLevel");
    ASSERT_NE(std::string::npos, level);
    EXPECT_GT(level, manifest.find("<asmv3:trustInfo"));
    EXPECT_EQ("requireAdministrator", Attribute(manifest, level, "level"));
    EXPECT_EQ("false", Attribute(manifest, level, "uiAccess"));
}

std::vector<SetupFile> SetupFiles() {
    std::vector<SetupFile> files{{"own", LARKSPAN_OWN_SETUP}};
    if (std::strcmp(LARKSPAN_OWN_SETUP, LARKSPAN_X86_SETUP) != 0) files.push_back({"x86", LARKSPAN_X86_SETUP});
    return files;
}

INSTANTIATE_TEST_SUITE_P(BuiltSetups, SetupFileTest, ::testing::ValuesIn(SetupFiles()),
                         [](const ::testing::TestParamInfo<SetupFile>& info) { return std::string(info.param.label); });

}  // namespace
