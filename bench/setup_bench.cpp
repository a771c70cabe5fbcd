// setup_bench: runs a setup with a large payload through its dialogs, as a user
// would, and measures it from outside:
//   - time from the start of the process to the licence dialog being shown;
//   - CPU time (user + kernel, GetProcessTimes) the process spends over 10 s
//     while the main dialog plays its animation (first round only);
//   - wall time of the copy: from the progress dialog being shown to it being
//     gone (the dialog goes when the last item is written, before the launch),
//     with the throughput over the payload's uncompressed bytes;
//   - the process's peak working set (GetProcessMemoryInfo) at the final report;
//   - in one more round, not counted in the others: how long the progress
//     dialog takes to answer a message sent to it during the copy (what a
//     click, a move or a repaint waits for);
//   - the same payload extracted by the archive tool (`larkspan-archive
//     extract`), less the tool's own start-up (a `list` of the same archive),
//     as the yardstick of the copy.
// Every figure is the median of N rounds (setup, tool extract, tool list,
// interleaved).
//
//   setup_bench SETUP.exe PAYLOAD DESTINATION ARCHIVE_TOOL.exe [--reps N]
// PAYLOAD is the archive inside the setup (its .layout file gives the sizes).
// DESTINATION is emptied first and created, so that no question is asked.
#include "bench/bench_common.h"
#include "tests/e2e/driver/e2e_driver.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kStageTimeoutMs = 180000;
// How often the copy's start and end are looked for: each look is a request to
// the Wine server, which the setup needs for its own file calls.
constexpr DWORD kPollMs = 2;

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto seconds = [](const FILETIME& t) { return static_cast<double>(support::Ticks(t)) / 1e7; };
    return seconds(kernel) + seconds(user);
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
    const support::Bytes bytes = bench::ReadWholeFile(path).value_or(support::Bytes());
    return std::string(bytes.begin(), bytes.end());
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

// Figures of one run of the setup through its dialogs.
struct SetupRun {
    bool ok = false;
    double startup = 0;  // process start to licence dialog shown
    double copy = 0;     // progress dialog shown to gone
    double installToReport = 0;
    double peakWorkingSet = 0;  // MiB
    double peakCommit = 0;      // MiB
    std::uint64_t installed = 0;
    std::uint64_t files = 0;
    std::string report;
    std::vector<double> answers;  // seconds, one per message sent during the copy
};

// One run: licence, main dialog (watched for `watchSeconds` when not 0),
// install into `destination`, final report.
SetupRun RunSetup(const std::string& setupPath, const std::string& destination, double watchSeconds, bool probe) {
    SetupRun run;
    bench::RemoveTree(destination);
    ::CreateDirectoryA(destination.c_str(), nullptr);
    e2e::SetupProcess setup;
    const double start = bench::Now();
    if (!setup.Start(setupPath)) {
        Fail(setup.error().c_str());
        return run;
    }
    HWND licence = setup.WaitForDialog("License agreement", kStageTimeoutMs);
    run.startup = bench::Now() - start;
    if (!licence) {
        Fail("the licence dialog did not appear");
        return run;
    }
    e2e::PressButton(licence, e2e::kAgreeBox);
    for (int i = 0; i < 200 && !e2e::IsControlEnabled(licence, IDOK); ++i) ::Sleep(e2e::kPollMs);
    e2e::PressButton(licence, IDOK);
    HWND main = setup.WaitForDialog("Larkspan Setup", kStageTimeoutMs);
    if (!main) {
        Fail("the main dialog did not appear");
        return run;
    }

    if (watchSeconds > 0) {
        // Let the dialog settle, then watch it play without touching it.
        ::Sleep(1000);
        std::string exeName = setupPath.substr(setupPath.find_last_of("\\/") + 1);
        const std::string hostPid = FindHostProcess(exeName);
        const double cpu0 = CpuSeconds(setup.processHandle());
        const double host0 = HostCpuSeconds(hostPid);
        const double wall0 = bench::Now();
        ::Sleep(static_cast<DWORD>(watchSeconds * 1000));
        const double cpu1 = CpuSeconds(setup.processHandle());
        const double host1 = HostCpuSeconds(hostPid);
        const double wall1 = bench::Now();
        std::printf("main dialog CPU time over %.1f s:       %8.3f s (%.2f %% of one core; GetProcessTimes)\n",
                    wall1 - wall0, cpu1 - cpu0, 100.0 * (cpu1 - cpu0) / (wall1 - wall0));
        if (host0 >= 0 && host1 >= 0) {
            std::printf("                       host process:   %8.3f s (%.2f %% of one core; /proc/%s/stat)\n",
                        host1 - host0, 100.0 * (host1 - host0) / (wall1 - wall0), hostPid.c_str());
        }
        std::fflush(stdout);
    }

    if (!e2e::TypeText(main, e2e::kFolderEdit, destination)) {
        Fail("could not type the destination");
        return run;
    }
    e2e::PressButton(main, IDOK);
    const double pressed = bench::Now();
    HWND progress = nullptr;
    while (progress == nullptr && bench::Now() - pressed < kStageTimeoutMs / 1000.0) {
        progress = e2e::FindProgressDialog(setup.processId());
        if (progress == nullptr) ::Sleep(kPollMs);
    }
    const double copyStart = bench::Now();
    if (!progress) {
        Fail("the progress dialog did not appear");
        return run;
    }
    while (::IsWindow(progress) && ::IsWindowVisible(progress) && bench::Now() - copyStart < kStageTimeoutMs / 1000.0) {
        if (probe) {
            // A sent message is handled when the setup next drains its queue.
            constexpr UINT kAnswerTimeoutMs = 5000;
            DWORD_PTR result = 0;
            const double sent = bench::Now();
            if (::SendMessageTimeoutA(progress, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &result) != 0) {
                run.answers.push_back(bench::Now() - sent);
            }
            ::Sleep(3);
        } else {
            ::Sleep(kPollMs);
        }
    }
    const double copyEnd = bench::Now();
    HWND report = setup.WaitForMessageBox(kStageTimeoutMs);
    const double reported = bench::Now();

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(setup.processHandle(), &memory, sizeof memory)) {
        run.peakWorkingSet = static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0;
        run.peakCommit = static_cast<double>(memory.PeakPagefileUsage) / 1048576.0;
    }
    if (report) run.report = e2e::ReadMessageBox(report).text;
    run.copy = copyEnd - copyStart;
    run.installToReport = reported - pressed;
    run.installed = FolderBytes(destination, run.files);
    if (report) e2e::PressButton(report, IDOK);
    const auto code = setup.WaitForExit(60000);
    bench::RemoveTree(destination);
    if (!code) {
        Fail("the setup did not end after its report");
        return run;
    }
    run.ok = report != nullptr;
    return run;
}

// Wall time of one run of the archive tool with these arguments (its output
// discarded); negative when it cannot be started or fails.
double RunTool(const std::string& tool, const std::string& arguments) {
    std::string commandLine = "\"" + tool + "\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION info{};
    const double t0 = bench::Now();
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        ::CloseHandle(nul);
        return -1;
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    const double t1 = bench::Now();
    DWORD code = 1;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(nul);
    return code == 0 ? t1 - t0 : -1;
}

void PrintSeries(const char* label, const std::vector<double>& values, const char* unit, int decimals) {
    std::printf("%-44s %8.*f %s (median; runs:", label, decimals, bench::Median(values), unit);
    for (double v : values) std::printf(" %.*f", decimals, v);
    std::printf(")\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: setup_bench SETUP.exe PAYLOAD DESTINATION ARCHIVE_TOOL.exe [--reps N]\n", stderr);
        return 2;
    }
    int reps = 5;
    if (argc >= 7 && std::strcmp(argv[5], "--reps") == 0) reps = std::max(1, std::atoi(argv[6]));
    const std::string setupPath = e2e::WindowsPath(argv[1]);
    const std::string payloadPath = e2e::WindowsPath(argv[2]);
    const std::vector<bench::LayoutItem> layout = bench::ReadLayout(argv[2]);
    std::uint64_t payloadBytes = 0;
    for (const bench::LayoutItem& item : layout) payloadBytes += item.uncompressedSize;
    const std::string destination = argv[3];
    const std::string toolDestination = destination + "-tool";
    const std::string tool = e2e::WindowsPath(argv[4]);

    WIN32_FILE_ATTRIBUTE_DATA setupFile{};
    ::GetFileAttributesExA(setupPath.c_str(), GetFileExInfoStandard, &setupFile);
    std::printf("setup: %s, %.1f MiB file; payload %zu items, %.1f MiB uncompressed\n", argv[1],
                static_cast<double>(setupFile.nFileSizeLow) / 1048576.0, layout.size(),
                static_cast<double>(payloadBytes) / 1048576.0);
    std::printf("rounds: %d, each: the setup through its dialogs, the tool's extract, the tool's list\n", reps);
    std::fflush(stdout);

    std::vector<double> startup, copy, installToReport, workingSet, commit, toolExtract, toolList;
    SetupRun last;
    bool failed = false;
    for (int r = 0; r < reps && !failed; ++r) {
        const SetupRun run = RunSetup(setupPath, destination, r == 0 ? 10.0 : 0.0, false);
        if (!run.ok || run.installed != payloadBytes) {
            std::printf("round %d: setup run failed (installed %llu of %llu bytes, report \"%s\")\n", r + 1,
                        static_cast<unsigned long long>(run.installed), static_cast<unsigned long long>(payloadBytes),
                        run.report.c_str());
            failed = true;
            break;
        }
        startup.push_back(run.startup);
        copy.push_back(run.copy);
        installToReport.push_back(run.installToReport);
        workingSet.push_back(run.peakWorkingSet);
        commit.push_back(run.peakCommit);
        last = run;

        bench::RemoveTree(toolDestination);
        ::CreateDirectoryA(toolDestination.c_str(), nullptr);
        const double extract = RunTool(tool, "extract \"" + payloadPath + "\" \"" + toolDestination + "\"");
        std::uint64_t toolFiles = 0;
        const std::uint64_t toolBytes = FolderBytes(toolDestination, toolFiles);
        bench::RemoveTree(toolDestination);
        const double list = RunTool(tool, "list \"" + payloadPath + "\"");
        if (extract < 0 || list < 0 || toolBytes != payloadBytes) {
            std::printf("round %d: the archive tool failed\n", r + 1);
            failed = true;
            break;
        }
        toolExtract.push_back(extract);
        toolList.push_back(list);
    }
    if (failed) return 1;
    const SetupRun probed = RunSetup(setupPath, destination, 0.0, true);
    if (!probed.ok) return Fail("the probed round failed");

    std::vector<double> toolNet;
    for (std::size_t i = 0; i < toolExtract.size(); ++i) toolNet.push_back(toolExtract[i] - toolList[i]);
    const double copySeconds = bench::Median(copy);
    const double toolSeconds = bench::Median(toolNet);
    const double mb = static_cast<double>(payloadBytes) / 1e6;
    PrintSeries("start to licence dialog shown:", startup, "s", 3);
    PrintSeries("copy wall time (progress dialog shown to gone):", copy, "s", 3);
    std::printf("%-44s %8.1f MB/s of uncompressed output\n", "  copy throughput:", mb / copySeconds);
    PrintSeries("Install pressed to final report:", installToReport, "s", 3);
    std::printf("%-44s (copy, launch of the program item, report)\n", "");
    PrintSeries("peak working set:", workingSet, "MiB", 1);
    PrintSeries("peak commit:", commit, "MiB", 1);
    PrintSeries("larkspan-archive extract, whole process:", toolExtract, "s", 3);
    PrintSeries("larkspan-archive list (its start-up):", toolList, "s", 3);
    PrintSeries("larkspan-archive extract less start-up:", toolNet, "s", 3);
    std::printf("%-44s %8.1f MB/s of uncompressed output\n", "  tool throughput:", mb / toolSeconds);
    const double ratio = copySeconds > 0 ? toolSeconds / copySeconds : 0;
    std::printf("setup copy speed / tool extract speed = %.3f   target >= 0.80   %s\n", ratio,
                ratio >= 0.8 ? "met" : "MISSED");
    if (!probed.answers.empty()) {
        std::vector<double> ms;
        for (double a : probed.answers) ms.push_back(a * 1000);
        std::printf(
            "progress dialog answers a sent message (extra round): median %.1f ms, max %.1f ms over %zu messages "
            "during a %.3f s copy\n",
            bench::Median(ms), *std::max_element(ms.begin(), ms.end()), ms.size(), probed.copy);
    }
    std::printf("installed: %llu files, %.1f MiB\n", static_cast<unsigned long long>(last.files),
                static_cast<double>(last.installed) / 1048576.0);
    std::printf("report: %s\n", last.report.c_str());
    std::fflush(stdout);
    return 0;
}
