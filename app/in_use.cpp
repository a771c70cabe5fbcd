#include "app/in_use.h"

#include "app/product_info.h"
#include "common/load_system_library.h"
#include "common/unique_module.h"

namespace larkspan {
namespace {

// Enough for the removal's own processes and a few others; a longer list is
// in use all the same.
constexpr UINT kListedProcesses = 8;

template <typename Function>
[[nodiscard]] bool Find(HMODULE module, const char* name, Function& function) noexcept {
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
    return function != nullptr;
}

[[nodiscard]] bool IsRemovalProcess(const RemovalProcesses& removal, const RM_UNIQUE_PROCESS& process) noexcept {
    for (int i = 0; i < removal.count; ++i) {
        const RM_UNIQUE_PROCESS& own = removal.processes[i];
        if (own.dwProcessId == process.dwProcessId &&
            own.ProcessStartTime.dwLowDateTime == process.ProcessStartTime.dwLowDateTime &&
            own.ProcessStartTime.dwHighDateTime == process.ProcessStartTime.dwHighDateTime) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool AddRemovalProcess(RemovalProcesses& removal, HANDLE process) noexcept {
    FILETIME created, exited, kernel, user;
    if (removal.count == kRemovalProcesses || !::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return false;
    }
    removal.processes[removal.count++] = {::GetProcessId(process), created};
    return true;
}

UseCheck FindOtherUser(const RestartManagerCalls& calls, const wchar_t* program, const RemovalProcesses& removal,
                       char (&user)[kUserNameChars]) noexcept {
    user[0] = '\0';
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (calls.startSession(&session, 0, key) != ERROR_SUCCESS) return UseCheck::CannotTell;
    LPCWSTR files[] = {program};
    RM_PROCESS_INFO listed[kListedProcesses];
    UINT needed = 0;
    UINT count = kListedProcesses;
    DWORD reasons = 0;
    UseCheck check = UseCheck::CannotTell;
    if (calls.registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        const DWORD result = calls.getList(session, &needed, &count, listed, &reasons);
        if (result == ERROR_MORE_DATA) {
            check = UseCheck::InUse;  // more users than the removal has processes
            count = 0;
        } else if (result == ERROR_SUCCESS) {
            check = UseCheck::NotInUse;
        } else {
            count = 0;
        }
    }
    for (UINT i = 0; i < count && i < kListedProcesses; ++i) {
        if (IsRemovalProcess(removal, listed[i].Process)) continue;
        check = UseCheck::InUse;
        if (::WideCharToMultiByte(CP_ACP, 0, listed[i].strAppName, -1, user, kUserNameChars, nullptr, nullptr) == 0) {
            user[0] = '\0';
        }
        break;
    }
    static_cast<void>(calls.endSession(session));
    return check;
}

bool IsProgramInUse(const RemovalProcesses& removal, char (&user)[kUserNameChars]) noexcept {
    user[0] = '\0';
    const win32::UniqueModule module(win32::LoadSystemLibrary("rstrtmgr.dll"));
    RestartManagerCalls calls;
    wchar_t program[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (module && length != 0 && length < MAX_PATH && Find(module.get(), "RmStartSession", calls.startSession) &&
        Find(module.get(), "RmRegisterResources", calls.registerResources) &&
        Find(module.get(), "RmGetList", calls.getList) && Find(module.get(), "RmEndSession", calls.endSession) &&
        FindOtherUser(calls, program, removal, user) == UseCheck::InUse) {
        return true;
    }
    // This desktop's own view: Larkspan's window, which no removal shows.
    return ::FindWindowA(LARKSPAN_APP_WINDOW_CLASS, nullptr) != nullptr;
}

}  // namespace larkspan
