// Whether the program is in use by anybody but the removal itself, in any
// session: Restart Manager names every process that uses the program file;
// the window check sees a running Larkspan on this desktop, where Restart
// Manager cannot answer (or answers for nobody, as where it is only a stub).
#pragma once

#include <windows.h>
#include <restartmanager.h>

namespace larkspan {

// The Restart Manager calls, from the system's rstrtmgr.dll or a test's stand-ins.
struct RestartManagerCalls {
    DWORD(WINAPI* startSession)(DWORD*, DWORD, WCHAR[]) = nullptr;
    DWORD(WINAPI* registerResources)(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT, LPCWSTR[]) = nullptr;
    DWORD(WINAPI* getList)(DWORD, UINT*, UINT*, RM_PROCESS_INFO[], LPDWORD) = nullptr;
    DWORD(WINAPI* endSession)(DWORD) = nullptr;
};

// The processes of the removal (this one, and the removal that started it for
// rights), as Restart Manager tells processes apart: id and start time.
constexpr int kRemovalProcesses = 2;
struct RemovalProcesses {
    RM_UNIQUE_PROCESS processes[kRemovalProcesses] = {};
    int count = 0;
};
// Adds a process of the removal; false when its start time cannot be read.
[[nodiscard]] bool AddRemovalProcess(RemovalProcesses& removal, HANDLE process) noexcept;

constexpr int kUserNameChars = 128;
enum class UseCheck { NotInUse, InUse, CannotTell };
// Asks Restart Manager whether a process other than the removal's uses the
// file `program`; the first such program's name into `user`.
[[nodiscard]] UseCheck FindOtherUser(const RestartManagerCalls& calls, const wchar_t* program,
                                     const RemovalProcesses& removal, char (&user)[kUserNameChars]) noexcept;

// Whether the program is in use, by the system's Restart Manager and the
// window check; `user` names who uses it (empty when only the window shows it).
[[nodiscard]] bool IsProgramInUse(const RemovalProcesses& removal, char (&user)[kUserNameChars]) noexcept;

}  // namespace larkspan
