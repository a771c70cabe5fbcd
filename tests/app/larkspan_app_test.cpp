// Larkspan.exe as the setup meets it: started with /Install it records its
// installation in its own folder (the payload files found there, with their
// sizes) and ends at once; started plainly it shows its window, which the
// Close button ends.
#include "app/elevation.h"
#include "app/in_use.h"
#include "app/install_step.h"
#include "app/program_file.h"
#include "common/unique_handle.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Larkspan";

using support::WindowsPath;

std::string ReadAll(const std::string& path) {
    const support::Bytes bytes = support::ReadWholeFile(path).value_or(support::Bytes());
    return std::string(bytes.begin(), bytes.end());
}

class LarkspanApp : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = temp_.path();
        ASSERT_TRUE(support::FolderExists(folder_));
        program_ = folder_ + "\\Larkspan.exe";
        ASSERT_TRUE(::CopyFileA(WindowsPath(LARKSPAN_APP_FILE).c_str(), program_.c_str(), FALSE));
        marker_ = folder_ + "\\Larkspan.installed";
        ::DeleteFileA(marker_.c_str());
    }
    void TearDown() override {
        // /Install also made a Start-menu entry and a registration that point
        // into this folder: take them away again.
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) ==
            ERROR_SUCCESS) {
            char location[MAX_PATH] = {};
            DWORD size = sizeof location - 1;
            const bool ours = ::RegQueryValueExA(key, "InstallLocation", nullptr, nullptr,
                                                 reinterpret_cast<BYTE*>(location), &size) == ERROR_SUCCESS &&
                              folder_ == location;
            ::RegCloseKey(key);
            if (ours) ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, 0);
        }
        char programs[MAX_PATH];
        if (SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs))) {
            ::DeleteFileA((std::string(programs) + "\\Orvane\\Larkspan.lnk").c_str());
            ::RemoveDirectoryA((std::string(programs) + "\\Orvane").c_str());
        }
    }

    // Starts the program as the setup does: quoted path, blank, argument;
    // the current directory elsewhere.
    bool Start(const std::string& argument, PROCESS_INFORMATION* info) {
        std::string command = "\"" + program_ + "\"" + (argument.empty() ? "" : " " + argument);
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, temp,
                                &startup, info) != FALSE;
    }

    support::TempFolder temp_{"Larkspan app test"};  // a blank in the program's path, as in Program Files
    std::string folder_, program_, marker_;
};

TEST(InstallArgument, AcceptsOnlyTheSingleSwitchInAnyCase) {
    EXPECT_TRUE(larkspan::IsInstallArgument("/Install"));
    EXPECT_TRUE(larkspan::IsInstallArgument("/install"));
    EXPECT_TRUE(larkspan::IsInstallArgument("  /INSTALL \t"));
    EXPECT_FALSE(larkspan::IsInstallArgument(""));
    EXPECT_FALSE(larkspan::IsInstallArgument(nullptr));
    EXPECT_FALSE(larkspan::IsInstallArgument("/Installer"));
    EXPECT_FALSE(larkspan::IsInstallArgument("-Install"));
    EXPECT_FALSE(larkspan::IsInstallArgument("/Install now"));
    EXPECT_FALSE(larkspan::IsInstallArgument("/Install/Install/Install/Install"));
    EXPECT_TRUE(larkspan::IsUninstallArgument(" /uninstall"));
    EXPECT_FALSE(larkspan::IsUninstallArgument("/Install"));
}

TEST_F(LarkspanApp, InstallModeWritesMarkerBesideItselfAndEndsWithZero) {
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(Start("/Install", &info));
    win32::UniqueHandle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    ASSERT_TRUE(::GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, 0u);
    const std::string marker = ReadAll(marker_);
    EXPECT_EQ(marker.rfind("Orvane Larkspan 2.80\r\nInstalled: ", 0), 0u) << marker;
    EXPECT_NE(marker.find(" UTC\r\n"), std::string::npos) << marker;
    // Only the program lies in this folder: it alone is recorded, with its size and CRC-32.
    const std::string program = ReadAll(program_);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08lX",
                  crc32(0, reinterpret_cast<const Bytef*>(program.data()), static_cast<uInt>(program.size())));
    EXPECT_NE(marker.find("\r\nFile: " + std::to_string(program.size()) + " crc32:" + crc + " Larkspan.exe\r\n"),
              std::string::npos)
        << marker;
    EXPECT_EQ(marker.find("License.rtf"), std::string::npos) << "an item that is not there is not recorded";
}

TEST_F(LarkspanApp, PlainStartShowsNamedWindowThatCloseEnds) {
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(Start("", &info));
    win32::UniqueHandle process(info.hProcess), thread(info.hThread);
    HWND window = nullptr;
    for (int i = 0; i < 200 && window == nullptr; ++i) {
        ::Sleep(50);
        HWND candidate = ::FindWindowA("OrvaneLarkspanMainWindow", nullptr);
        DWORD owner = 0;
        if (candidate) ::GetWindowThreadProcessId(candidate, &owner);
        if (owner == info.dwProcessId) window = candidate;
    }
    ASSERT_NE(window, nullptr) << "no window appeared";
    char title[128] = {};
    ::GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Orvane Larkspan 2.80");
    EXPECT_EQ(::WaitForSingleObject(process.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT)) << "it stays open";
    HWND close = ::GetDlgItem(window, IDOK);
    ASSERT_NE(close, nullptr);
    char text[32] = {};
    ::GetWindowTextA(close, text, sizeof text);
    EXPECT_STREQ(text, "Close");
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(close));
    ASSERT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    ASSERT_TRUE(::GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(::GetFileAttributesA(marker_.c_str()), INVALID_FILE_ATTRIBUTES) << "only /Install registers";
}

// The removal's decision about rights, with the rights check and the start
// with rights injected: Wine grants every right and never asks for consent.
// On Windows the check is denied to a user's filtered rights over an
// installation for all users, and "runas" shows the consent prompt.
larkspan::RegistrationState g_rights;
larkspan::ElevatedRun g_elevated;
int g_starts;
HWND g_owner;

TEST(UninstallRights, StartsOneRunWithRightsOnlyWhereRightsAreMissing) {
    using larkspan::ElevationResult;
    using larkspan::RegistrationState;
    struct Case {
        RegistrationState rights;
        bool elevatedRun;
        ElevationResult started;
        bool removeHere;
        int starts, exitCode;
        bool message;
    } const cases[] = {
        {RegistrationState::RegistrationRemovable, false, ElevationResult::ElevationFinished, true, 0, 1, false},
        {RegistrationState::RegistrationNone, false, ElevationResult::ElevationFinished, true, 0, 1, false},
        {RegistrationState::RegistrationDenied, false, ElevationResult::ElevationFinished, false, 1, 7, false},
        {RegistrationState::RegistrationDenied, false, ElevationResult::ElevationRefused, false, 1, 1, true},
        {RegistrationState::RegistrationDenied, false, ElevationResult::ElevationFailed, false, 1, 1, true},
        {RegistrationState::RegistrationDenied, true, ElevationResult::ElevationFinished, false, 0, 1, true},
    };
    larkspan::FileIdentity folder;
    folder.volume = 42;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        g_rights = c.rights;
        g_elevated = {c.started, 7};
        g_starts = 0;
        g_owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
        const larkspan::RightsOutcome outcome = larkspan::SettleRights(
            g_owner, "C:\\Apps\\Larkspan\\Larkspan.exe", folder, c.elevatedRun,
            [](const larkspan::FileIdentity& checked) noexcept {
                EXPECT_EQ(checked.volume, 42u);
                return g_rights;
            },
            [](HWND owner, const char* program) noexcept {
                EXPECT_EQ(owner, g_owner);
                EXPECT_STREQ(program, "C:\\Apps\\Larkspan\\Larkspan.exe");
                ++g_starts;
                return g_elevated;
            });
        EXPECT_EQ(outcome.removeHere, c.removeHere);
        EXPECT_EQ(g_starts, c.starts);
        if (!c.removeHere) {
            EXPECT_EQ(outcome.exitCode, c.exitCode);
        }
        EXPECT_EQ(outcome.message != nullptr, c.message);
        if (c.message) {
            EXPECT_NE(std::string(outcome.message).find("Nothing has been removed."), std::string::npos);
        }
    }
}

// The question and the start for rights are owned by one window of the
// removal, never by nobody: a consent prompt without an owner waits in the
// taskbar. Both calls injected; the window is the real one.
std::string g_parameters;
TEST(UninstallRights, QuestionAndConsentShareOneInvisibleOwner) {
    const larkspan::OwnerWindow owner;
    ASSERT_TRUE(::IsWindow(owner.get()));
    EXPECT_FALSE(::IsWindowVisible(owner.get()));
    g_owner = nullptr;
    EXPECT_TRUE(larkspan::AskToRemove(owner.get(), [](HWND window, LPCSTR, LPCSTR, UINT) -> int WINAPI {
        g_owner = window;
        return IDYES;
    }));
    EXPECT_EQ(g_owner, owner.get());
    g_owner = nullptr;
    const larkspan::ElevatedRun run = larkspan::StartElevatedWith(owner.get(), "C:\\Apps\\Larkspan.exe",
                                                                  [](SHELLEXECUTEINFOA* info) -> BOOL WINAPI {
                                                                      g_owner = info->hwnd;
                                                                      g_parameters = info->lpParameters;
                                                                      ::SetLastError(ERROR_CANCELLED);
                                                                      return FALSE;
                                                                  });
    EXPECT_EQ(g_owner, owner.get());
    EXPECT_EQ(g_parameters, "/UninstallElevated " + std::to_string(::GetCurrentProcessId()));
    EXPECT_EQ(run.result, larkspan::ElevationResult::ElevationRefused);
}

// Restart Manager's answer, injected: Wine's answers for nobody. A process of
// the removal itself (same id and start time) is no other user.
RM_PROCESS_INFO g_listed[3];
UINT g_listedCount;
DWORD g_listResult;
TEST(UninstallInUse, OnlyProcessesOtherThanTheRemovalCount) {
    larkspan::RemovalProcesses removal;
    ASSERT_TRUE(larkspan::AddRemovalProcess(removal, ::GetCurrentProcess()));
    RM_PROCESS_INFO own = {};
    own.Process = removal.processes[0];
    RM_PROCESS_INFO reused = own;  // the same id, a later process
    reused.Process.ProcessStartTime.dwLowDateTime += 1;
    ::lstrcpyW(reused.strAppName, L"Notes");
    RM_PROCESS_INFO other = {};
    other.Process.dwProcessId = own.Process.dwProcessId + 4;
    ::lstrcpyW(other.strAppName, L"Orvane Larkspan");
    struct Case {
        DWORD result;
        std::vector<RM_PROCESS_INFO> listed;
        larkspan::UseCheck check;
        const char* user;
    } const cases[] = {
        {ERROR_SUCCESS, {}, larkspan::UseCheck::NotInUse, ""},
        {ERROR_SUCCESS, {own}, larkspan::UseCheck::NotInUse, ""},
        {ERROR_SUCCESS, {own, other}, larkspan::UseCheck::InUse, "Orvane Larkspan"},
        {ERROR_SUCCESS, {reused}, larkspan::UseCheck::InUse, "Notes"},
        {ERROR_MORE_DATA, {}, larkspan::UseCheck::InUse, ""},
        {ERROR_ACCESS_DENIED, {other}, larkspan::UseCheck::CannotTell, ""},
    };
    larkspan::RestartManagerCalls calls;
    calls.startSession = [](DWORD* session, DWORD, WCHAR[]) -> DWORD WINAPI {
        *session = 9;
        return ERROR_SUCCESS;
    };
    calls.registerResources = [](DWORD, UINT files, LPCWSTR names[], UINT, RM_UNIQUE_PROCESS[], UINT,
                                 LPCWSTR[]) -> DWORD WINAPI {
        EXPECT_EQ(files, 1u);
        EXPECT_STREQ(names[0], L"C:\\Apps\\Larkspan.exe");
        return ERROR_SUCCESS;
    };
    calls.getList = [](DWORD, UINT* needed, UINT* count, RM_PROCESS_INFO listed[], LPDWORD) -> DWORD WINAPI {
        *needed = g_listedCount;
        *count = g_listedCount;
        for (UINT i = 0; i < g_listedCount; ++i) listed[i] = g_listed[i];
        return g_listResult;
    };
    calls.endSession = [](DWORD session) -> DWORD WINAPI { return session == 9 ? ERROR_SUCCESS : 1; };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        g_listResult = c.result;
        g_listedCount = static_cast<UINT>(c.listed.size());
        for (UINT i = 0; i < g_listedCount; ++i) g_listed[i] = c.listed[i];
        char user[larkspan::kUserNameChars];
        EXPECT_EQ(larkspan::FindOtherUser(calls, L"C:\\Apps\\Larkspan.exe", removal, user), c.check);
        EXPECT_STREQ(user, c.user);
    }
}

// What a user without administrator rights may do, injected: under Wine the
// user may change every folder, where Windows keeps Program Files and the
// system's temporary folder out of a user's reach. The restart deletes by name,
// with all rights and following links, so only what no such user could have
// replaced by then is left for it. Rights are given below the test's folder;
// above it nothing is granted.
std::string g_below;                                   // the test's folder, with its backslash
std::vector<std::pair<std::string, DWORD>> g_granted;  // a name below it and what a user may do there
bool InjectedRights(const wchar_t* path, DWORD& granted) noexcept {
    char name[MAX_PATH] = {};
    ::WideCharToMultiByte(CP_ACP, 0, path, -1, name, MAX_PATH - 1, nullptr, nullptr);
    const std::string full = std::string(name) + "\\";
    const bool inside = full.size() >= g_below.size() &&
                        ::_strnicmp(full.c_str(), g_below.c_str(), g_below.size()) == 0;
    const std::string below = inside ? full.substr(g_below.size(), full.size() - g_below.size() - 1) : "..";
    granted = 0;
    for (const auto& [entry, rights] : g_granted) {
        if (entry != below) continue;
        if (rights == MAXDWORD) return false;  // cannot be told
        granted = rights;
    }
    return true;
}

TEST(UninstallRestart, LeavesForTheRestartOnlyWhatNoUserCouldReplace) {
    const DWORD kCannotTell = MAXDWORD;
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, DWORD>> granted;
        bool scheduled;
    } const cases[] = {
        {"nothing granted", {}, true},
        {"the folder takes new files, the file stays", {{"a\\b", FILE_ADD_FILE}}, true},
        {"the file can be taken away by itself", {{"a\\b", FILE_ADD_FILE}, {"a\\b\\Larkspan.exe", DELETE}}, false},
        {"the folder takes files and lets them be taken away", {{"a\\b", FILE_ADD_FILE | FILE_DELETE_CHILD}}, false},
        {"a folder on the way can be renamed", {{"a", FILE_ADD_SUBDIRECTORY}, {"a\\b", DELETE}}, false},
        {"a folder on the way can be taken away, but nothing added", {{"a\\b", DELETE}}, true},
        {"a folder's permissions can be changed", {{"a", WRITE_DAC}}, false},
        {"the test folder's own folder can be renamed", {{"..", FILE_ADD_SUBDIRECTORY}, {"", DELETE}}, false},
        {"cannot tell", {{"a", kCannotTell}}, false},
    };
    support::TempFolder root("restart");
    g_below = root.path() + "\\";
    const std::string program = root / "a\\b\\Larkspan.exe";
    ASSERT_TRUE(::CreateDirectoryA((root / "a").c_str(), nullptr) &&
                ::CreateDirectoryA((root / "a\\b").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileA(WindowsPath(LARKSPAN_APP_FILE).c_str(), program.c_str(), FALSE));
    static_cast<void>(support::TakePendingDeletions());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_granted = c.granted;
        const win32::UniqueFile file(::CreateFileA(program.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        EXPECT_EQ(larkspan::DeleteAtRestart(file.get(), InjectedRights), c.scheduled);
        const std::string pending = support::TakePendingDeletions();
        EXPECT_EQ(pending.find(program + "\n\n") != std::string::npos, c.scheduled) << pending;
        EXPECT_EQ(pending.empty(), !c.scheduled) << pending;
    }
}

// The program file's own step, with what Wine cannot show injected: a program
// on another drive than the temporary folder (installed on D:, say) cannot be
// moved there and would otherwise stay for good, so its own drive's root takes
// it (Wine keeps every drive on one Unix file system, where a move always
// works: a move into the refused folders fails as between drives); a file in
// use cannot be moved, and a run with rights leaves it for the restart only
// where no user without rights could replace it by then (under Wine every
// user may change every folder).
std::string g_refused;  // moves into folders whose names start so fail
LONG NTAPI RenameAcrossDrives(HANDLE file, PIO_STATUS_BLOCK io, PVOID information, ULONG size,
                              FILE_INFORMATION_CLASS kind) {
    constexpr LONG kNotSameDevice = static_cast<LONG>(0xC00000D4L);
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetFinalPathNameByHandleA(static_cast<FILE_RENAME_INFORMATION*>(information)->RootDirectory,
                                                     folder, MAX_PATH, FILE_NAME_NORMALIZED);
    if (length > 4 && ::_strnicmp(folder + 4, g_refused.c_str(), g_refused.size()) == 0) return kNotSameDevice;
    return ::NtSetInformationFile(file, io, information, size, kind);
}
bool NoUserMayChange(const wchar_t*, DWORD& granted) noexcept {
    granted = 0;
    return true;
}
bool EveryUserMayChange(const wchar_t*, DWORD& granted) noexcept {
    granted = FILE_ALL_ACCESS;
    return true;
}

TEST(UninstallProgramFile, MovesOutOrLeavesForTheRestartOnlyWhatNoUserCouldReplace) {
    using larkspan::ProgramOutcome;
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    const std::string none = "\\\\no folder";  // refuses nothing
    struct Case {
        const char* name;
        bool elevated, inUse;
        std::string refused;
        larkspan::UserRightsQuery rights;
        ProgramOutcome outcome;
        const char* movedTo;  // where it went, or "" where it stays
        bool pending;         // left for the restart
    } const cases[] = {
        {"the temporary folder on another drive", false, false, temp, EveryUserMayChange, ProgramOutcome::ProgramMoved,
         "C:\\Larkspan-", false},
        {"no drive takes it", false, false, "", EveryUserMayChange, ProgramOutcome::ProgramOtherVolume, "", false},
        {"with rights, moved where no user could replace it", true, false, none, NoUserMayChange,
         ProgramOutcome::ProgramMovedForRestart, "C:\\windows\\temp\\Larkspan-", true},
        {"in use, with rights, where no user could replace it", true, true, none, NoUserMayChange,
         ProgramOutcome::ProgramAtRestart, "", true},
        {"in use, with rights, where a user could replace it", true, true, none, EveryUserMayChange,
         ProgramOutcome::ProgramInUse, "", false},
        {"in use, without rights", false, true, none, NoUserMayChange, ProgramOutcome::ProgramInUse, "", false},
    };
    support::TempFolder folder("program file");
    const std::string program = folder / "Larkspan.exe";
    static_cast<void>(support::TakePendingDeletions());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_refused = c.refused;
        ASSERT_TRUE(::CopyFileA(WindowsPath(LARKSPAN_APP_FILE).c_str(), program.c_str(), FALSE));
        char movedTo[larkspan::kFinalPathChars] = {};
        char atRestart[larkspan::kFinalPathChars] = {};
        {
            // Somebody else has it open without sharing a move.
            const win32::UniqueFile user(c.inUse ? ::CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                 nullptr, OPEN_EXISTING, 0, nullptr)
                                                 : INVALID_HANDLE_VALUE);
            const win32::UniqueFile file(::CreateFileA(program.c_str(), FILE_READ_ATTRIBUTES,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                       OPEN_EXISTING, 0, nullptr));
            larkspan::FileIdentity identity;
            ASSERT_TRUE(file && larkspan::IdentityOf(file.get(), identity));
            EXPECT_EQ(larkspan::SettleProgramFile(file.get(), identity, c.elevated, movedTo, atRestart,
                                                  {c.rights, RenameAcrossDrives}),
                      c.outcome);
        }
        const std::string moved = movedTo;
        EXPECT_EQ(::_strnicmp(moved.c_str(), c.movedTo, std::strlen(c.movedTo)), 0) << moved;
        EXPECT_EQ(support::FileExists(program), moved.empty());
        EXPECT_EQ(std::string(atRestart), c.outcome == ProgramOutcome::ProgramAtRestart ? program : "");
        const std::string pending = support::TakePendingDeletions();
        EXPECT_EQ(!pending.empty(), c.pending) << pending;
        if (!moved.empty()) {
            EXPECT_TRUE(support::FileExists(moved));
            EXPECT_EQ(moved.substr(moved.size() - sizeof "\\Larkspan.exe" + 1), "\\Larkspan.exe");
            ::DeleteFileA(moved.c_str());
            ::RemoveDirectoryA(moved.substr(0, moved.rfind('\\')).c_str());
        }
    }
}

}  // namespace
