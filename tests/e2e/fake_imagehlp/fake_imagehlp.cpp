// A planted IMAGEHLP.DLL, as an attacker might leave one in a Downloads folder
// beside a setup program. Its MapFileAndCheckSumA always reports a checksum
// mismatch (header 1, computed 2), so a setup that loaded it would refuse
// itself; and on loading it leaves "imagehlp-loaded.txt" in its own folder, so
// a test can tell that it was loaded at all.
#include <windows.h>

namespace {

void LeaveTrace(HMODULE self) {
    char path[MAX_PATH + 32] = {};
    DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') --length;
    ::lstrcpyA(path + length, "imagehlp-loaded.txt");
    HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, "loaded\r\n", 8, &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveTrace(instance);
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI MapFileAndCheckSumA(PCSTR, PDWORD headerSum, PDWORD checkSum) {
    if (headerSum) *headerSum = 1;
    if (checkSum) *checkSum = 2;
    return 0;  // CHECKSUM_SUCCESS
}
