// The product setup as a user meets it, with the real installed program: after
// the installation the Start menu holds "Orvane" / "Larkspan" and the system
// lists the program for removal, both pointing at the installed program; the
// removal command registered there asks once and, on Yes, takes away exactly
// what the setup placed and is still as placed, the shortcut and the
// registration, and nothing else, however the installation was changed by a
// user or a planter of links; its final message names what it left.
#include "tests/e2e/support/e2e_support.h"
#include "common/com_ref.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <functional>

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

// Starts the removal command, answers its question (when it asks one) and
// reads its final message; the exit code and that message.
struct Removal {
    std::optional<DWORD> code;
    std::string said;
};
Removal RunRemoval(const std::string& program, int answer, bool asks = true,
                   const std::function<void(DWORD)>& whileAsked = {}) {
    SetupProcess removal;
    EXPECT_TRUE(removal.Start(program, {}, "/Uninstall")) << removal.error();
    HWND box = removal.WaitForMessageBox(kAppearMs);
    EXPECT_NE(box, nullptr) << "no message appeared; seen:\n" << Describe(removal.seen());
    std::vector<HWND> boxes = {box};
    if (box && asks) {
        const MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_EQ(info.text, kRemoveQuestion);
        EXPECT_EQ(info.caption, kAppCaption);
        EXPECT_EQ(info.icon, IconKind::Question) << IconName(info.icon);
        EXPECT_EQ(info.buttons.size(), 2u);
        if (whileAsked) whileAsked(removal.processId());
        Answer(removal, box, answer);
        box = answer == IDYES ? removal.WaitForMessageBox(kAppearMs, box) : nullptr;
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
    const std::wstring wide(path.begin(), path.end());
    char* name = unixName ? unixName(wide.c_str()) : nullptr;
    const std::string result = name ? "\"" + std::string(name) + "\"" : "";
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}
// Runs a tool of the system and waits for `done`: Wine gives no handle that
// waits for a Unix process. (Its DeleteFile removes what a link leads to, so
// the links go with rm.)
void RunUnixTool(const std::string& tool, const std::string& arguments, const std::function<bool()>& done) {
    std::string command = "Z:\\bin\\" + tool + " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
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
// outside it with a copy of the licence and a file a link may lead to.
struct Installation {
    std::string folder, program, outside, temp;
    std::vector<std::string> planted;  // links made in the temporary folder
};
constexpr char kVictimText[] = "not Larkspan's";

void AppendToRecord(const Installation& at, const std::string& line) {
    auto record = ReadWholeFile(at.folder + "\\Larkspan.installed");
    ASSERT_TRUE(record.has_value());
    record->insert(record->end(), line.begin(), line.end());
    ASSERT_TRUE(WriteWholeFile(at.folder + "\\Larkspan.installed", *record));
}
// The record names docs\License.rtf too, true to the licence's size and checksum.
void RecordLicenceInDocs(const Installation& at) {
    const support::Bytes bytes = ReadWholeFile(at.folder + "\\Larkspan.installed").value_or(support::Bytes());
    const std::string record(bytes.begin(), bytes.end());
    const std::size_t end = record.find(" License.rtf\r\n");
    const std::size_t start = record.rfind("\nFile: ", end) + 1;
    AppendToRecord(at, record.substr(start, end - start) + " docs\\License.rtf\r\n");
}

struct RemovalCase {
    const char* name;
    bool throughLink;  // started through a link to the folder
    DWORD exitCode;
    const char* said;                  // in the final message
    std::vector<std::string> staying;  // in the folder afterwards; everything else of ours goes
    void (*prepare)(Installation&);
};

const RemovalCase kRemovalCases[] = {
    {"missing record",
     false,
     1,
     "is missing or damaged, so nothing has been removed",
     {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf"},
     [](Installation& at) { ::DeleteFileA((at.folder + "\\Larkspan.installed").c_str()); }},
    {"damaged record",
     false,
     1,
     "is missing or damaged, so nothing has been removed",
     {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf", "Larkspan.installed"},
     [](Installation& at) { AppendToRecord(at, "File: 14 ..\\outside\\victim.txt\r\n"); }},
    {"same-size edit and a file of the user's",
     false,
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
     false,
     1,
     "\ndocs\\License.rtf (reached through a link)",
     {"docs"},
     [](Installation& at) {
         RecordLicenceInDocs(at);  // docs leads to the outside folder, which holds that very file
         MakeLink(at.outside, at.folder + "\\docs");
     }},
    {"through a link to the folder, with a real docs folder",
     true,
     0,
     "has been removed from this computer.",
     {},
     [](Installation& at) {
         RecordLicenceInDocs(at);
         ASSERT_TRUE(::CreateDirectoryA((at.folder + "\\docs").c_str(), nullptr));
         ASSERT_TRUE(CopyFileTo(at.outside + "\\License.rtf", at.folder + "\\docs\\License.rtf"));
     }},
    {"plain", false, 0, "has been removed from this computer.", {}, nullptr},
};

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

    // No: nothing changes.
    EXPECT_EQ(RunRemoval(program, IDNO).code, 2u);
    EXPECT_TRUE(FileExists(program));
    EXPECT_TRUE(RegistryText("DisplayName").has_value());
    EXPECT_TRUE(FileExists(shortcut));

    // Yes, on installations made from the installed files and changed as a
    // user or a planter may have changed them.
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    for (const RemovalCase& row : kRemovalCases) {
        SCOPED_TRACE(row.name);
        TempFolder rowRoot("removal");
        Installation at{
            rowRoot / "Orvane Larkspan", rowRoot / "Orvane Larkspan\\Larkspan.exe", rowRoot / "outside", temp, {}};
        ASSERT_TRUE(::CreateDirectoryA(at.folder.c_str(), nullptr) && ::CreateDirectoryA(at.outside.c_str(), nullptr));
        for (const char* name : {"Larkspan.exe", "Larkspan-Read-Me.txt", "License.rtf"}) {
            ASSERT_TRUE(CopyFileTo(folder + "\\" + name, at.folder + "\\" + name)) << name;
        }
        ASSERT_TRUE(CopyFileTo(folder + "\\License.rtf", at.outside + "\\License.rtf"));
        ASSERT_TRUE(
            WriteWholeFile(at.outside + "\\victim.txt", support::Bytes(kVictimText, std::end(kVictimText) - 1)));
        SetupProcess install;
        ASSERT_TRUE(install.Start(at.program, at.folder, "/Install")) << install.error();
        ASSERT_EQ(install.WaitForExit(kAppearMs), 0u);
        if (row.prepare) row.prepare(at);
        const std::vector<std::string> tempBefore = ListFolder(temp);
        if (row.throughLink) MakeLink(at.folder, rowRoot / "link");
        const std::string started = row.throughLink ? rowRoot / "link\\Larkspan.exe" : at.program;
        // Only a removal that finds the record whole asks, and only it removes anything.
        const bool programStays = std::count(row.staying.begin(), row.staying.end(), "Larkspan.exe") != 0;
        // Links wait at the names where the finishing copy used to go.
        const Removal removal = RunRemoval(started, IDYES, !programStays, [&](DWORD removalId) {
            for (const std::string& name :
                 {"Larkspan-Uninstall-" + std::to_string(removalId) + ".exe", std::string("Larkspan-Uninstall.exe")}) {
                MakeLink(at.outside + "\\victim.txt", at.temp + name);
                at.planted.push_back(name);
            }
        });
        EXPECT_EQ(removal.code, row.exitCode);
        EXPECT_NE(removal.said.find(row.said), std::string::npos) << removal.said;
        if (row.exitCode != 0) {
            EXPECT_NE(removal.said.find(at.folder), std::string::npos) << removal.said;
        }

        // The finishing copy ends, and then nothing of it is left in the
        // temporary folder; links planted there still lead where they did.
        std::vector<std::string> tempExpected = tempBefore;
        tempExpected.insert(tempExpected.end(), at.planted.begin(), at.planted.end());
        std::sort(tempExpected.begin(), tempExpected.end());
        for (int i = 0; i < 400 && (ListFolder(temp) != tempExpected || FileExists(at.program) != programStays); ++i) {
            ::Sleep(kPollMs);
        }
        EXPECT_EQ(ListFolder(temp), tempExpected);
        for (const std::string& name : at.planted) RemoveLink(at.temp + name);
        EXPECT_EQ(ReadWholeFile(at.outside + "\\victim.txt"), support::Bytes(kVictimText, std::end(kVictimText) - 1));
        EXPECT_TRUE(FileExists(at.outside + "\\License.rtf"));

        for (const char* name : kInstalledFiles) {
            const bool stays = std::count(row.staying.begin(), row.staying.end(), name) != 0;
            EXPECT_EQ(FileExists(at.folder + "\\" + name), stays) << name;
        }
        for (const std::string& name : row.staying) EXPECT_TRUE(support::Exists(at.folder + "\\" + name)) << name;
        EXPECT_EQ(FolderExists(at.folder), !row.staying.empty());
        EXPECT_EQ(RegistryText("InstallLocation").has_value(), programStays);
        EXPECT_EQ(FileExists(shortcut), programStays);
        EXPECT_EQ(FolderExists(MenuFolder()), programStays) << "the empty Start-menu folder goes too";
        // The links go, never what they lead to; a link to the removed folder
        // leads somewhere again first, so that its going can be seen.
        if (row.throughLink) {
            ::CreateDirectoryA(at.folder.c_str(), nullptr);
            RemoveLink(rowRoot / "link");
        }
        if (std::count(row.staying.begin(), row.staying.end(), "docs") != 0) RemoveLink(at.folder + "\\docs");
    }
    ::CoUninitialize();
}

}  // namespace
}  // namespace e2e
