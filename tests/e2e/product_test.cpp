// The product setup as a user meets it, with the real installed program: after
// the installation the Start menu holds "Orvane" / "Larkspan" and the system
// lists the program for removal, both pointing at the installed program; the
// removal command registered there asks once and, on Yes, takes away exactly
// what the setup placed, the shortcut and the registration, and nothing else.
#include "tests/e2e/support/e2e_support.h"
#include "common/com_ref.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace e2e {
namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Larkspan";
constexpr char kAppCaption[] = "Orvane Larkspan";
constexpr char kRemoveQuestion[] = "Do you want to remove Orvane Larkspan 2.80 from this computer?";
const char* const kInstalledFiles[] = {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf", "Larkspan.installed"};

std::optional<std::string> RegistryText(const char* name) {
    char value[1024] = {};
    DWORD size = sizeof value;
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<DWORD> RegistryNumber(const char* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

std::string MenuFolder() {
    char programs[MAX_PATH] = {};
    EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs)));
    return std::string(programs) + "\\Orvane";
}

// The target of a shortcut file, read through the shell's own link object.
std::string ShortcutTarget(const std::string& shortcut) {
    win32::ComRef<IShellLinkA> link;
    win32::ComRef<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(link.put()))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) {
        return {};
    }
    const std::wstring wide(shortcut.begin(), shortcut.end());
    char target[MAX_PATH] = {};
    if (FAILED(file->Load(wide.c_str(), STGM_READ)) || FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        return {};
    }
    return target;
}

// Starts the registered removal command and answers its one question.
std::optional<DWORD> RunRemoval(const std::string& program, int answer) {
    SetupProcess removal;
    EXPECT_TRUE(removal.Start(program, {}, "/Uninstall")) << removal.error();
    HWND box = removal.WaitForMessageBox(kAppearMs);
    EXPECT_NE(box, nullptr) << "no question appeared; seen:\n" << Describe(removal.seen());
    if (!box) return std::nullopt;
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, kRemoveQuestion);
    EXPECT_EQ(info.caption, kAppCaption);
    EXPECT_EQ(info.icon, IconKind::Question) << IconName(info.icon);
    EXPECT_EQ(info.buttons.size(), 2u);
    EXPECT_NE(Control(box, IDYES), nullptr);
    EXPECT_NE(Control(box, IDNO), nullptr);
    Answer(removal, box, answer);
    const auto code = removal.WaitForExit(kAppearMs);
    EXPECT_TRUE(NothingElseSeen(removal, {box}));
    return code;
}

TEST(Product, InstallsShortcutAndRegistrationThatRemovalTakesAwayAgain) {
    const std::string setupFile = ProductSetupPath();
    if (setupFile.empty()) GTEST_SKIP() << "the product setup is not built here";
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TempFolder root("product");
    const std::string folder = root / "Orvane Larkspan";
    const std::string program = folder + "\\Larkspan.exe";
    const std::string shortcut = MenuFolder() + "\\Larkspan.lnk";

    SetupProcess setup;
    HWND main = StartToMainDialog(setup, setupFile);
    ASSERT_NE(main, nullptr);
    InstallInto(main, folder);
    HWND question = setup.WaitForMessageBox(kAppearMs);
    ASSERT_NE(question, nullptr);
    Answer(setup, question, IDYES);  // create the folder
    EXPECT_EQ(FinishWithReport(setup).box.text, kString112);

    // What the final report promises is there, pointing at the program.
    for (const char* name : kInstalledFiles) EXPECT_TRUE(FileExists(folder + "\\" + name)) << name;
    EXPECT_EQ(ShortcutTarget(shortcut), program);
    EXPECT_EQ(RegistryText("DisplayName"), "Orvane Larkspan 2.80");
    EXPECT_EQ(RegistryText("DisplayVersion"), "2.80");
    EXPECT_EQ(RegistryText("Publisher"), "Orvane");
    EXPECT_EQ(RegistryText("InstallLocation"), folder);
    EXPECT_EQ(RegistryText("DisplayIcon"), program);
    const auto command = RegistryText("UninstallString");
    EXPECT_EQ(command, "\"" + program + "\" /Uninstall");
    EXPECT_GT(RegistryNumber("EstimatedSize").value_or(0), 0u);
    EXPECT_EQ(RegistryNumber("NoModify"), 1u);
    EXPECT_EQ(RegistryNumber("NoRepair"), 1u);

    // The user's own file, an installed file the user edited, and a record
    // tampered with to name a file outside the folder (with its true size).
    const std::string own = folder + "\\My notes.txt";
    ASSERT_TRUE(WriteWholeFile(own, {'m', 'i', 'n', 'e'}));
    const std::string edited = folder + "\\License.rtf";
    auto licence = ReadWholeFile(edited);
    ASSERT_TRUE(licence.has_value());
    licence->push_back('\n');
    ASSERT_TRUE(WriteWholeFile(edited, *licence));
    const std::string outside = root / "outside.txt";
    ASSERT_TRUE(WriteWholeFile(outside, {'k', 'e', 'e', 'p'}));
    auto record = ReadWholeFile(folder + "\\Larkspan.installed");
    ASSERT_TRUE(record.has_value());
    for (const char c : std::string("File: 4 ..\\outside.txt\r\n")) record->push_back(static_cast<std::uint8_t>(c));
    ASSERT_TRUE(WriteWholeFile(folder + "\\Larkspan.installed", *record));

    // No: nothing changes.
    EXPECT_EQ(RunRemoval(program, IDNO), 2u);
    EXPECT_TRUE(FileExists(program));
    EXPECT_TRUE(RegistryText("DisplayName").has_value());
    EXPECT_TRUE(FileExists(shortcut));

    // Yes: ours goes, the program file last, once its process has ended.
    EXPECT_EQ(RunRemoval(program, IDYES), 0u);
    for (int i = 0; i < 400 && FileExists(program); ++i) ::Sleep(kPollMs);
    for (const char* name : {"Larkspan.exe", "Larkspan-Read-Me.txt", "Larkspan.installed"}) {
        EXPECT_FALSE(FileExists(folder + "\\" + name)) << name;
    }
    EXPECT_TRUE(FileExists(edited)) << "an installed file the user changed stays";
    EXPECT_TRUE(FileExists(own)) << "the user's own file stays";
    EXPECT_TRUE(FileExists(outside)) << "a name outside the folder is never followed";
    EXPECT_FALSE(FileExists(shortcut));
    EXPECT_FALSE(FolderExists(MenuFolder())) << "the empty Start-menu folder goes too";
    EXPECT_FALSE(RegistryText("DisplayName").has_value()) << "the registration is gone";
    ::CoUninitialize();
}

}  // namespace
}  // namespace e2e
