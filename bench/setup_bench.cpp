// setup_bench: runs a setup with a large payload through its dialogs, as a user
// would, and measures it from outside:
//   - time from the start of the process to the licence dialog being shown;
//   - CPU time (user + kernel, GetProcessTimes) the process spends over 10 s
//     while the main dialog plays its animation;
//   - wall time of the copy: from the progress dialog being shown to it being
//     gone, with the throughput over the payload's uncompressed bytes;
//   - the process's peak working set (GetProcessMemoryInfo) at the final report.
//
//   setup_bench SETUP.exe PAYLOAD DESTINATION
// PAYLOAD is the archive inside the setup (its .layout file gives the sizes).
// DESTINATION is emptied first and created, so that no question is asked.
#include "bench/bench_common.h"
#include "tests/e2e/driver/e2e_driver.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kLicenseCheckBox = 1000;
constexpr int kFolderEdit = 1011;
constexpr int kProgressFileName = 1003;
constexpr DWORD kStageTimeoutMs = 180000;

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchProgressDialog(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == s->processId && ::IsWindowVisible(window) && ::GetDlgItem(window, kProgressFileName) != nullptr) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible progress dialog (the one with the file-name control) of the process.
HWND FindProgressDialog(DWORD processId) {
    Search search{processId, nullptr};
    ::EnumWindows(MatchProgressDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::uint64_t FolderBytes(const std::string& folder, std::uint64_t& files) {
    std::uint64_t total = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            total += FolderBytes(folder + "\\" + name, files);
        } else {
            total += (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            ++files;
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return total;
}

// Under Wine, GetProcessTimes reports no CPU time for another process; the
// Linux process that runs it does. Finds it by its command line in /proc
// (reachable as drive Z:) and reads utime + stime from its stat file.
std::string ReadSmallFile(const std::string& path) {
    std::string text;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    ::CloseHandle(file);
    return text;
}

std::string FindHostProcess(const std::string& exeName) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    std::string result;
    do {
        const std::string name = found.cFileName;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string commandLine = ReadSmallFile("Z:\\proc\\" + name + "\\cmdline");
        if (commandLine.find(exeName) != std::string::npos && commandLine.find("setup_bench") == std::string::npos) {
            result = name;
            break;
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return result;
}

// utime + stime of a host process, in seconds (clock ticks of 1/100 s); -1 when unknown.
double HostCpuSeconds(const std::string& pid) {
    if (pid.empty()) return -1;
    const std::string stat = ReadSmallFile("Z:\\proc\\" + pid + "\\stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    unsigned long long utime = 0, stime = 0;
    // After the command name: state, then fields 4..13, then utime (14) and stime (15).
    if (std::sscanf(stat.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2) {
        return -1;
    }
    return static_cast<double>(utime + stime) / 100.0;
}

int Fail(const char* what) {
    std::fprintf(stderr, "setup_bench: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: setup_bench SETUP.exe PAYLOAD DESTINATION\n", stderr);
        return 2;
    }
    const std::string setupPath = e2e::WindowsPath(argv[1]);
    const std::vector<bench::LayoutItem> layout = bench::ReadLayout(argv[2]);
    std::uint64_t payloadBytes = 0;
    for (const bench::LayoutItem& item : layout) payloadBytes += item.uncompressedSize;
    const std::string destination = argv[3];
    bench::RemoveTree(destination);
    ::CreateDirectoryA(destination.c_str(), nullptr);

    WIN32_FILE_ATTRIBUTE_DATA setupFile{};
    ::GetFileAttributesExA(setupPath.c_str(), GetFileExInfoStandard, &setupFile);
    std::printf("setup: %s, %.1f MiB file; payload %zu items, %.1f MiB uncompressed\n", argv[1],
                static_cast<double>(setupFile.nFileSizeLow) / 1048576.0, layout.size(),
                static_cast<double>(payloadBytes) / 1048576.0);
    std::fflush(stdout);

    e2e::SetupProcess setup;
    const double start = bench::Now();
    if (!setup.Start(setupPath)) return Fail(setup.error().c_str());
    HWND licence = setup.WaitForDialog("License agreement", kStageTimeoutMs);
    const double licenceShown = bench::Now();
    if (!licence) return Fail("the licence dialog did not appear");
    std::printf("start to licence dialog shown:         %8.3f s (25 ms polling)\n", licenceShown - start);
    std::fflush(stdout);

    e2e::PressButton(licence, kLicenseCheckBox);
    for (int i = 0; i < 200 && !e2e::IsControlEnabled(licence, IDOK); ++i) ::Sleep(e2e::kPollMs);
    e2e::PressButton(licence, IDOK);
    HWND main = setup.WaitForDialog("Larkspan Setup", kStageTimeoutMs);
    if (!main) return Fail("the main dialog did not appear");

    // Let the dialog settle, then watch it play for 10 s without touching it.
    ::Sleep(1000);
    std::string exeName = setupPath.substr(setupPath.find_last_of("\\/") + 1);
    const std::string hostPid = FindHostProcess(exeName);
    const double cpu0 = CpuSeconds(setup.processHandle());
    const double host0 = HostCpuSeconds(hostPid);
    const double wall0 = bench::Now();
    ::Sleep(10000);
    const double cpu1 = CpuSeconds(setup.processHandle());
    const double host1 = HostCpuSeconds(hostPid);
    const double wall1 = bench::Now();
    std::printf("main dialog CPU time over %.1f s:       %8.3f s (%.2f %% of one core; GetProcessTimes)\n", wall1 - wall0,
                cpu1 - cpu0, 100.0 * (cpu1 - cpu0) / (wall1 - wall0));
    if (host0 >= 0 && host1 >= 0) {
        std::printf("                       host process:   %8.3f s (%.2f %% of one core; /proc/%s/stat)\n", host1 - host0,
                    100.0 * (host1 - host0) / (wall1 - wall0), hostPid.c_str());
    }
    std::fflush(stdout);

    if (!e2e::TypeText(main, kFolderEdit, destination)) return Fail("could not type the destination");
    e2e::PressButton(main, IDOK);
    const double pressed = bench::Now();
    HWND progress = nullptr;
    while (progress == nullptr && bench::Now() - pressed < kStageTimeoutMs / 1000.0) {
        progress = FindProgressDialog(setup.processId());
        if (progress == nullptr) ::Sleep(5);
    }
    const double copyStart = bench::Now();
    if (!progress) return Fail("the progress dialog did not appear");
    while (::IsWindow(progress) && ::IsWindowVisible(progress) && bench::Now() - copyStart < kStageTimeoutMs / 1000.0) {
        ::Sleep(5);
    }
    const double copyEnd = bench::Now();
    HWND report = setup.WaitForMessageBox(kStageTimeoutMs);
    const double reported = bench::Now();

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    const bool haveMemory = ::GetProcessMemoryInfo(setup.processHandle(), &memory, sizeof memory) != FALSE;
    std::string reportText;
    if (report) reportText = e2e::ReadMessageBox(report).text;

    const double copySeconds = copyEnd - copyStart;
    std::printf("copy wall time (progress dialog shown to gone): %8.3f s, %.1f MB/s of uncompressed output\n",
                copySeconds, static_cast<double>(payloadBytes) / copySeconds / 1e6);
    std::printf("Install pressed to final report:        %8.3f s (copy, launch of the program item, report)\n",
                reported - pressed);
    if (haveMemory) {
        std::printf("peak working set:                      %8.1f MiB (peak commit %.1f MiB)\n",
                    static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0,
                    static_cast<double>(memory.PeakPagefileUsage) / 1048576.0);
    } else {
        std::printf("peak working set: not available (GetProcessMemoryInfo failed, error %lu)\n", ::GetLastError());
    }
    std::uint64_t files = 0;
    const std::uint64_t installed = FolderBytes(destination, files);
    std::printf("installed: %llu files, %.1f MiB%s\n", static_cast<unsigned long long>(files),
                static_cast<double>(installed) / 1048576.0, installed == payloadBytes ? "" : "  (DIFFERS from the payload)");
    std::printf("report: %s\n", reportText.c_str());
    std::fflush(stdout);

    if (report) e2e::PressButton(report, IDOK);
    const auto code = setup.WaitForExit(60000);
    bench::RemoveTree(destination);
    if (!code) return Fail("the setup did not end after its report");
    return installed == payloadBytes ? 0 : 1;
}
