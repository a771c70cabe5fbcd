#include "setup/setup_checksum.h"

#include <windows.h>

#include "setup/setup_state.h"
#include "common/load_system_library.h"
#include "common/unique_module.h"

namespace {

using MapFileAndCheckSumFn = DWORD(WINAPI*)(PCSTR fileName, PDWORD headerSum, PDWORD checkSum);

}  // namespace

bool VerifySetupChecksum() noexcept {
    char path[kPathChars];
    const DWORD length = ::GetModuleFileNameA(g_setup.instance, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return true;

    // From the system folder only: a planted IMAGEHLP.DLL beside the setup
    // could otherwise wave a damaged file through.
    win32::UniqueModule imagehlp(win32::LoadSystemLibrary("IMAGEHLP.DLL"));
    if (!imagehlp) return true;
    const auto mapFileAndCheckSum = reinterpret_cast<MapFileAndCheckSumFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(imagehlp.get(), "MapFileAndCheckSumA")));
    if (mapFileAndCheckSum == nullptr) return true;

    DWORD headerSum = 0;
    DWORD computedSum = 0;
    if (mapFileAndCheckSum(path, &headerSum, &computedSum) != 0) return true;
    if (headerSum == 0 || computedSum == 0 || headerSum == computedSum) return true;

    ::MessageBoxA(nullptr, "The checksum of this setup program is not correct.", nullptr, MB_OK | MB_ICONERROR);
    return false;
}
