// The product setup as a user meets it, with the real installed program: after
// the installation the Start menu holds "Orvane" / "Larkspan" and the system
// lists the program for removal, both pointing at the installed program; the
// removal command registered there asks once and, on Yes, takes away exactly
// what the setup placed and is still as placed, the shortcut and the
// registration, and nothing else, however the installation was changed by a
// user or a planter of links; its final message names what it left.
#include "tests/e2e/support/e2e_support.h"
#include "common/com_ref.h"
#include "common/unique_handle.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <type_traits>

namespace e2e {
namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Larkspan";
constexpr char kAppCaption[] = "Orvane Larkspan";
constexpr char kRemoveQuestion[] = "Do you want to remove Orvane Larkspan 2.80 from this computer?";
const char* const kInstalledFiles[] = {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf", "Larkspan.installed"};

// The registration lives in the 32-bit view, whichever build wrote it.
template <typename Value>
std::optional<Value> RegistryValue(const char* name, DWORD type) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    Value value{};
    char text[1024] = {};
    DWORD size = sizeof text;
    const bool read = ::RegGetValueA(key, nullptr, name, type, nullptr, text, &size) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    if (!read) return std::nullopt;
    if constexpr (std::is_same_v<Value, std::string>) {
        value = text;
    } else {
        std::memcpy(&value, text, sizeof value);
    }
    return value;
}
std::optional<std::string> RegistryText(const char* name) { return RegistryValue<std::string>(name, RRF_RT_REG_SZ); }
std::optional<DWORD> RegistryNumber(const char* name) { return RegistryValue<DWORD>(name, RRF_RT_REG_DWORD); }

void SetInstallLocation(const std::string& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    ::RegSetValueExA(key, "InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>(folder.size() + 1));
    ::RegCloseKey(key);
}

std::string MenuFolder() {
    char programs[MAX_PATH] = {};
    EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs)));
    return std::string(programs) + "\\Orvane";
}

// The shell's own link object on a shortcut file.
struct ShellLink {
    win32::ComRef<IShellLinkA> link;
    win32::ComRef<IPersistFile> file;
    explicit ShellLink(const std::string& shortcut) {
        const std::wstring wide(shortcut.begin(), shortcut.end());
        if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(link.put()))) ||
            FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))) ||
            FAILED(file->Load(wide.c_str(), STGM_READ))) {
            link.reset();
        }
    }
};
std::string ShortcutTarget(const std::string& shortcut) {
    ShellLink shell(shortcut);
    char target[MAX_PATH] = {};
    return shell.link && SUCCEEDED(shell.link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) ? target : "";
}

// Starts the removal command, answers its question (when it asks one) and
// reads its final message; the exit code and that message.
struct Removal {
    std::optional<DWORD> code;
    std::string said;
};
using Rights = SetupProcess::Rights;
Removal RunRemoval(const std::string& program, const std::string& arguments, bool asks, Rights rights,
                   const std::function<void()>& whileAsked = {}) {
    SetupProcess removal;
    EXPECT_TRUE(removal.Start(program, {}, arguments, rights)) << removal.error();
    HWND box = removal.WaitForMessageBox(kAppearMs);
    EXPECT_NE(box, nullptr) << "no message appeared; seen:\n" << Describe(removal.seen());
    std::vector<HWND> boxes = {box};
    if (box && asks) {
        const MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_EQ(info.text, kRemoveQuestion);
        EXPECT_EQ(info.caption, kAppCaption);
        EXPECT_EQ(info.icon, IconKind::Question) << IconName(info.icon);
        EXPECT_EQ(info.buttons.size(), 2u);
        if (whileAsked) whileAsked();
        Answer(removal, box, IDYES);
        box = removal.WaitForMessageBox(kAppearMs, box);
        boxes.push_back(box);
    }
    Removal result;
    if (box) {
        result.said = ReadMessageBox(box).text;
        Answer(removal, box, IDOK);
    }
    result.code = removal.WaitForExit(kAppearMs);
    EXPECT_TRUE(NothingElseSeen(removal, boxes));
    return result;
}

// Under Wine a Unix symbolic link is, to Windows programs, the folder or file
// it points to: the link a planter makes. The system's own ln makes it.
std::string UnixPath(const std::string& path) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[MAX_PATH] = {};
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* name = unixName ? unixName(wide) : nullptr;
    const std::string result = name ? "\"" + std::string(name) + "\"" : "";
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}
// Runs a tool of the system and waits for `done`: Wine gives no handle that
// waits for a Unix process. (Its DeleteFile removes what a link leads to, so
// the links go with rm.)
void RunUnixTool(const std::string& tool, const std::string& arguments, const std::function<bool()>& done) {
    // Unix names are UTF-8: the command line goes to the tool as Unicode.
    const std::string command = "Z:\\bin\\" + tool + " " + arguments;
    std::wstring wide(command.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, wide.data(), static_cast<int>(wide.size()))));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        << command;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    for (int i = 0; i < 400 && !done(); ++i) ::Sleep(kPollMs);
    ASSERT_TRUE(done()) << command;
}
void MakeLink(const std::string& target, const std::string& link) {
    RunUnixTool("ln", "-s " + UnixPath(target) + " " + UnixPath(link), [&] { return support::Exists(link); });
}
void RemoveLink(const std::string& link) {
    RunUnixTool("rm", UnixPath(link), [&] { return !support::Exists(link); });
}

// One installation: the installed files copied beside each other and
// registered by the program's own /Install, as the setup does; a folder
// outside it with a copy of the licence and a file a link may lead to; a
// sibling whose name differs only in letter case.
struct Installation {
    std::string root, folder, program, outside, sibling;
    std::vector<std::string> links;  // links made, removed after the row
    HANDLE held = nullptr;           // the program file, held open by somebody else
    bool siblingMade = false;
};
constexpr char kVictimText[] = "not Larkspan's";

// The sibling of the installation folder whose name differs only in letter
// case: Wine takes the one for the other when a Windows program makes it, so
// the system's mkdir does. (Wine then loses track of which of the two a
// handle names when it comes to deleting, so only rows that need the sibling
// make it.)
void MakeCaseSibling(Installation& at) {
    const std::string quoted = UnixPath(at.root);
    const std::string unix = quoted.substr(1, quoted.size() - 2) + "/ORVANE LARKSPAN";  // without its quotes
    const std::string made = at.sibling + "\\.made";
    RunUnixTool("sh", "-c \"mkdir '" + unix + "' && touch '" + unix + "/.made'\"", [&] { return FileExists(made); });
    ::DeleteFileA(made.c_str());
    at.siblingMade = true;
}

void AppendToRecord(const Installation& at, const std::string& line) {
    auto record = ReadWholeFile(at.folder + "\\Larkspan.installed");
    ASSERT_TRUE(record.has_value());
    record->insert(record->end(), line.begin(), line.end());
    ASSERT_TRUE(WriteWholeFile(at.folder + "\\Larkspan.installed", *record));
}
// The record names `name` too, with the licence's size and checksum: a copy
// of the licence there would be removed.
void RecordLicenceAs(const Installation& at, const std::string& name) {
    const support::Bytes bytes = ReadWholeFile(at.folder + "\\Larkspan.installed").value_or(support::Bytes());
    const std::string record(bytes.begin(), bytes.end());
    const std::size_t end = record.find(" License.rtf\r\n");
    const std::size_t start = record.rfind("\nFile: ", end) + 1;
    AppendToRecord(at, record.substr(start, end - start) + " " + name + "\r\n");
}
void Link(Installation& at, const std::string& target, const std::string& name) {
    MakeLink(target, at.folder + "\\" + name);
    at.links.push_back(at.folder + "\\" + name);
}

// How a row starts the removal, and what it finds.
enum Options : unsigned {
    kThroughLink = 1,      // started through a link to the folder
    kNoQuestion = 2,       // finds no whole installation, so asks nothing
    kKeepsEntries = 4,     // the shortcut and the registration stay
    kLimited = 8,          // started with a user's filtered rights
    kNoTemp = 16,          // the temporary folder is missing
    kRemoveAgain = 32,     // removed again, as it is, which then finishes
    kElevatedByHand = 64,  // /UninstallElevated with the id of a process that is no removal
    kSecondRemoval = 128   // a second removal is started while the question is open
};
struct RemovalCase {
    const char* name;
    unsigned options;
    DWORD exitCode;
    const char* said;                  // in the final message
    std::vector<std::string> staying;  // in the folder afterwards; everything else of ours goes
    void (*prepare)(Installation&);
};

const RemovalCase kRemovalCases[] = {
    {"missing record",
     kNoQuestion | kKeepsEntries,
     1,
     "is missing or damaged, so nothing has been removed",
     {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf"},
     [](Installation& at) { ::DeleteFileA((at.folder + "\\Larkspan.installed").c_str()); }},
    {"damaged record",
     kNoQuestion | kKeepsEntries,
     1,
     "is missing or damaged, so nothing has been removed",
     {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf", "Larkspan.installed"},
     [](Installation& at) { AppendToRecord(at, "File: 14 ..\\outside\\victim.txt\r\n"); }},
    {"a registration naming a sibling that differs only in case",
     kNoQuestion | kKeepsEntries,
     1,
     "No registration of Orvane Larkspan 2.80 names the folder",
     {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf", "Larkspan.installed"},
     [](Installation& at) {
         MakeCaseSibling(at);
         for (const char* name : kInstalledFiles) {
             ASSERT_TRUE(CopyFileTo(at.folder + "\\" + name, at.sibling + "\\" + name)) << name;
         }
         SetInstallLocation(at.sibling);
     }},
    {"same-size edit and a file of the user's",
     0,
     1,
     "\nLarkspan-Read-Me.txt (changed since it was installed)",
     {"Larkspan-Read-Me.txt", "My notes.txt"},
     [](Installation& at) {
         auto text = ReadWholeFile(at.folder + "\\Larkspan-Read-Me.txt");
         ASSERT_TRUE(text.has_value() && !text->empty());
         (*text)[0] ^= 1;
         ASSERT_TRUE(WriteWholeFile(at.folder + "\\Larkspan-Read-Me.txt", *text));
         ASSERT_TRUE(WriteWholeFile(at.folder + "\\My notes.txt", {'m', 'i', 'n', 'e'}));
     }},
    {"linked folder",
     0,
     1,
     "\ndocs\\License.rtf (reached through a link)",
     {"docs"},
     [](Installation& at) {
         RecordLicenceAs(at, "docs\\License.rtf");  // docs leads to the outside folder, which holds that very file
         Link(at, at.outside, "docs");
     }},
    {"links to a sibling that differs only in case, and to one with a soft hyphen",
     0,
     1,
     "\nnotes.txt (reached through a link)\nguide\\License.rtf (reached through a link)\nhyphen.txt (reached",
     {"notes.txt", "guide", "hyphen.txt"},
     [](Installation& at) {
         MakeCaseSibling(at);
         const std::string hyphen = at.root + "\\Orvane Lark\xADspan";
         ASSERT_TRUE(::CreateDirectoryA((at.sibling + "\\guide").c_str(), nullptr) &&
                     ::CreateDirectoryA(hyphen.c_str(), nullptr));
         for (const std::string& copy :
              {at.sibling + "\\notes.txt", at.sibling + "\\guide\\License.rtf", hyphen + "\\hyphen.txt"}) {
             ASSERT_TRUE(CopyFileTo(at.outside + "\\License.rtf", copy)) << copy;
         }
         for (const char* name : {"notes.txt", "guide\\License.rtf", "hyphen.txt"}) RecordLicenceAs(at, name);
         Link(at, at.sibling + "\\notes.txt", "notes.txt");
         Link(at, at.sibling + "\\guide", "guide");
         Link(at, hyphen + "\\hyphen.txt", "hyphen.txt");
     }},
    {"a hard link to a read-only file outside",
     0,
     1,
     "\nhard.txt (has other names on this disk)",
     {"hard.txt"},
     [](Installation& at) {
         const std::string victim = at.outside + "\\License.rtf";
         ASSERT_TRUE(::SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY));
         ASSERT_TRUE(::CreateHardLinkA((at.folder + "\\hard.txt").c_str(), victim.c_str(), nullptr));
         RecordLicenceAs(at, "hard.txt");
     }},
    {"a record naming itself and the program, in other letter case",
     0,
     0,
     "has been removed from this computer.",
     {},
     [](Installation& at) {
         AppendToRecord(at, "File: 10 crc32:0A0B0C0D larkspan.INSTALLED\r\nFile: 10 crc32:0A0B0C0D LARKSPAN.EXE\r\n");
     }},
    {"/UninstallElevated started by hand asks as /Uninstall does",
     kElevatedByHand,
     0,
     "has been removed from this computer.",
     {},
     nullptr},
    {"through a link to the folder, with a real docs folder",
     kThroughLink,
     0,
     "has been removed from this computer.",
     {},
     [](Installation& at) {
         RecordLicenceAs(at, "docs\\License.rtf");
         ASSERT_TRUE(::CreateDirectoryA((at.folder + "\\docs").c_str(), nullptr));
         ASSERT_TRUE(CopyFileTo(at.outside + "\\License.rtf", at.folder + "\\docs\\License.rtf"));
     }},
    {"a shortcut that points elsewhere now: removed by its record",
     0,
     0,
     "has been removed from this computer.",
     {},
     [](Installation& at) {
         ShellLink shell(MenuFolder() + "\\Larkspan.lnk");
         ASSERT_TRUE(shell.link && SUCCEEDED(shell.link->SetPath((at.outside + "\\License.rtf").c_str())) &&
                     SUCCEEDED(shell.file->Save(nullptr, TRUE)));
     }},
    {"without rights and without a temporary folder, then again",
     kLimited | kNoTemp | kKeepsEntries | kRemoveAgain,
     1,
     "\nLarkspan.exe (could not be moved out: the temporary folder cannot take it)",
     {"Larkspan.exe", "Larkspan.installed"},
     [](Installation& at) {
         // Gone with its folder in the first removal, so the second finds
         // neither: the record then names only what was left.
         RecordLicenceAs(at, "docs\\License.rtf");
         ASSERT_TRUE(::CreateDirectoryA((at.folder + "\\docs").c_str(), nullptr));
         ASSERT_TRUE(CopyFileTo(at.outside + "\\License.rtf", at.folder + "\\docs\\License.rtf"));
     }},
    {"without rights, the program file in use, then again",
     kLimited | kKeepsEntries | kRemoveAgain,
     1,
     "\nLarkspan.exe (in use)",
     {"Larkspan.exe", "Larkspan.installed"},
     [](Installation& at) {
         at.held = ::CreateFileA(at.program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
     }},
    {"with rights, the program file in use in a folder its user may change: never left for the restart",
     kKeepsEntries | kRemoveAgain,
     1,
     "\nLarkspan.exe (in use)",
     {"Larkspan.exe", "Larkspan.installed"},
     [](Installation& at) {
         at.held = ::CreateFileA(at.program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
     }},
    {"plain, with a second removal started during the question",
     kSecondRemoval,
     0,
     "has been removed from this computer.",
     {},
     nullptr},
};

// The new folders of a temporary folder that the removal made, each holding
// the program file moved there; removed after they are counted.
int TakeMovedPrograms(const std::string& temp, const std::vector<std::string>& before) {
    int moved = 0;
    for (const std::string& name : ListFolder(temp)) {
        if (std::count(before.begin(), before.end(), name) != 0 || name.rfind("Larkspan-", 0) != 0) continue;
        EXPECT_TRUE(FileExists(temp + name + "\\Larkspan.exe")) << name;
        ::DeleteFileA((temp + name + "\\Larkspan.exe").c_str());
        ::RemoveDirectoryA((temp + name).c_str());
        ++moved;
    }
    return moved;
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
    EXPECT_EQ(RegistryText("DisplayIcon"), program + ",0");
    EXPECT_EQ(RegistryText("InstallDate").value_or("").size(), 8u);
    const auto command = RegistryText("UninstallString");
    EXPECT_EQ(command, "\"" + program + "\" /Uninstall");
    EXPECT_GT(RegistryNumber("EstimatedSize").value_or(0), 0u);
    EXPECT_EQ(RegistryNumber("NoModify"), 1u);
    EXPECT_EQ(RegistryNumber("NoRepair"), 1u);

    // No: nothing changes.
    {
        SetupProcess removal;
        ASSERT_TRUE(removal.Start(program, {}, "/Uninstall")) << removal.error();
        HWND box = removal.WaitForMessageBox(kAppearMs);
        ASSERT_NE(box, nullptr);
        Answer(removal, box, IDNO);
        EXPECT_EQ(removal.WaitForExit(kAppearMs), 2u);
    }
    EXPECT_TRUE(FileExists(program));
    EXPECT_TRUE(RegistryText("DisplayName").has_value());
    EXPECT_TRUE(FileExists(shortcut));

    // Yes, on installations made from the installed files and changed as a
    // user or a planter may have changed them.
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    // As the system spells it, as the removal's message gives it.
    char systemTemp[MAX_PATH] = {};
    {
        char windows[MAX_PATH] = {};
        ASSERT_NE(::GetSystemWindowsDirectoryA(windows, MAX_PATH), 0u);
        const win32::UniqueFile folder(::CreateFileA((std::string(windows) + "\\Temp").c_str(), FILE_READ_ATTRIBUTES,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        char final[MAX_PATH] = {};
        ASSERT_GT(::GetFinalPathNameByHandleA(folder.get(), final, MAX_PATH, FILE_NAME_NORMALIZED), 4u);
        ::lstrcpyA(systemTemp, final + 4);  // without "\\?\"
        ::lstrcatA(systemTemp, "\\");
    }
    support::TakePendingDeletions();
    for (const RemovalCase& row : kRemovalCases) {
        SCOPED_TRACE(row.name);
        TempFolder rowRoot("removal");
        Installation at{rowRoot.path(),
                        rowRoot / "Orvane Larkspan",
                        rowRoot / "Orvane Larkspan\\Larkspan.exe",
                        rowRoot / "outside",
                        rowRoot / "ORVANE LARKSPAN",
                        {},
                        nullptr,
                        false};
        for (const std::string& made : {at.folder, at.outside}) {
            ASSERT_TRUE(::CreateDirectoryA(made.c_str(), nullptr)) << made;
        }
        for (const char* name : {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf"}) {
            ASSERT_TRUE(CopyFileTo(folder + "\\" + name, at.folder + "\\" + name)) << name;
        }
        ASSERT_TRUE(CopyFileTo(folder + "\\License.rtf", at.outside + "\\License.rtf"));
        const support::Bytes victim(kVictimText, std::end(kVictimText) - 1);
        ASSERT_TRUE(WriteWholeFile(at.outside + "\\victim.txt", victim));
        {
            SetupProcess install;
            ASSERT_TRUE(install.Start(at.program, at.folder, "/Install")) << install.error();
            ASSERT_EQ(install.WaitForExit(kAppearMs), 0u);
        }
        if (row.prepare) row.prepare(at);
        const std::vector<std::string> tempBefore = ListFolder(temp);
        const std::vector<std::string> systemTempBefore = ListFolder(systemTemp);
        const std::vector<std::string> siblingBefore = at.siblingMade ? ListFolder(at.sibling)
                                                                      : std::vector<std::string>();
        if (row.options & kThroughLink) MakeLink(at.folder, rowRoot / "link");
        const std::string started = row.options & kThroughLink ? rowRoot / "link\\Larkspan.exe" : at.program;
        const std::string arguments = row.options & kElevatedByHand
                                          ? "/UninstallElevated " + std::to_string(::GetCurrentProcessId())
                                          : "/Uninstall";
        if (row.options & kNoTemp) {
            ::SetEnvironmentVariableA("TMP", (rowRoot / "gone").c_str());
            ::SetEnvironmentVariableA("TEMP", (rowRoot / "gone").c_str());
        }
        const DWORD outsideAttributes = ::GetFileAttributesA((at.outside + "\\License.rtf").c_str());
        // A second removal started while the question is open removes nothing.
        const auto second = [&] {
            const Removal other = RunRemoval(at.program, "/Uninstall", false, Rights::Own);
            EXPECT_EQ(other.code, 1u);
            EXPECT_NE(other.said.find("is already under way"), std::string::npos) << other.said;
        };
        // A row without kLimited is a removal with rights, as Settings starts one after consent.
        const Rights rights = row.options & kLimited ? Rights::Limited : Rights::Elevated;
        const Removal removal = RunRemoval(
            started, arguments, !(row.options & kNoQuestion), rights,
            row.options & kSecondRemoval ? std::function<void()>(second) : std::function<void()>());
        ::SetEnvironmentVariableA("TMP", temp);
        ::SetEnvironmentVariableA("TEMP", temp);
        EXPECT_EQ(removal.code, row.exitCode);
        EXPECT_NE(removal.said.find(row.said), std::string::npos) << removal.said;
        if (row.exitCode != 0) {
            EXPECT_NE(removal.said.find(at.folder), std::string::npos) << removal.said;
        }
        for (const char* name : kInstalledFiles) {
            const bool stays = std::count(row.staying.begin(), row.staying.end(), name) != 0;
            EXPECT_EQ(FileExists(at.folder + "\\" + name), stays) << name;
        }
        for (const std::string& name : row.staying) EXPECT_TRUE(support::Exists(at.folder + "\\" + name)) << name;
        // Wine removes a folder when the last handle on it closes, which may
        // be a moment after the removal has ended.
        for (int i = 0; i < 400 && FolderExists(at.folder) != !row.staying.empty(); ++i) ::Sleep(kPollMs);
        EXPECT_EQ(FolderExists(at.folder), !row.staying.empty()) << ::testing::PrintToString(ListFolder(at.folder));
        const bool keepsEntries = (row.options & kKeepsEntries) != 0;
        EXPECT_EQ(RegistryText("InstallLocation").has_value(), keepsEntries);
        EXPECT_EQ(FileExists(shortcut), keepsEntries);
        EXPECT_EQ(FolderExists(MenuFolder()), keepsEntries) << "the empty Start-menu folder goes too";
        if (at.held) ::CloseHandle(at.held);
        if (row.options & kRemoveAgain) {
            const Removal again = RunRemoval(at.program, "/Uninstall", true, rights);
            EXPECT_EQ(again.code, 0u);
            for (int i = 0; i < 400 && FolderExists(at.folder); ++i) ::Sleep(kPollMs);
            EXPECT_NE(again.said.find("has been removed from this computer.\nWindows keeps the file of a running "
                                      "program, so the program file was moved to\n" +
                                      std::string(rights == Rights::Limited ? temp : systemTemp)),
                      std::string::npos)
                << again.said;
            EXPECT_FALSE(FolderExists(at.folder));
            EXPECT_FALSE(RegistryText("InstallLocation").has_value());
            EXPECT_FALSE(FileExists(shortcut));
        }
        // The program file stays where it was moved: in the user's temporary
        // folder without rights, in the system's with them. Under Wine a user
        // may change every folder, so nothing is ever left for the restart,
        // which would delete by name whatever is there by then.
        const bool moved = !(row.options & kNoQuestion);
        const bool limited = (row.options & kLimited) != 0;
        EXPECT_EQ(TakeMovedPrograms(temp, tempBefore), limited && moved ? 1 : 0);
        EXPECT_EQ(TakeMovedPrograms(systemTemp, systemTempBefore), !limited && moved ? 1 : 0);
        EXPECT_EQ(support::TakePendingDeletions(), "");
        // Nothing outside the installation changed.
        EXPECT_EQ(ListFolder(temp), tempBefore);
        if (at.siblingMade) {
            EXPECT_EQ(ListFolder(at.sibling), siblingBefore);
        }
        EXPECT_EQ(ReadWholeFile(at.outside + "\\victim.txt"), victim);
        EXPECT_EQ(ReadWholeFile(at.outside + "\\License.rtf"), ReadWholeFile(folder + "\\License.rtf"));
        EXPECT_EQ(::GetFileAttributesA((at.outside + "\\License.rtf").c_str()), outsideAttributes);
        if (row.options & kKeepsEntries) {
            EXPECT_EQ(ShortcutTarget(shortcut), row.options & kRemoveAgain ? std::string() : at.program);
        }
        // The links go, never what they lead to; a link to the removed folder
        // leads somewhere again first, so that its going can be seen.
        for (const std::string& link : at.links) RemoveLink(link);
        if (row.options & kThroughLink) {
            ::CreateDirectoryA(at.folder.c_str(), nullptr);
            RemoveLink(rowRoot / "link");
        }
        ::SetFileAttributesA((at.outside + "\\License.rtf").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    ::CoUninitialize();
}

}  // namespace
}  // namespace e2e
