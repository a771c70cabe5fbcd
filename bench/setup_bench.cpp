// setup_bench: runs a setup with a large payload through its dialogs, as a user
// would, and measures it from outside:
//   - time from the start of the process to the licence dialog being shown;
//   - CPU time (user + kernel, GetProcessTimes) the process spends over 10 s
//     while the main dialog plays its animation (first round only);
//   - wall time of the copy: from the progress dialog being shown to it being
//     gone (the dialog goes when the last item is written, before the launch),
//     with the throughput over the payload's uncompressed bytes, and the CPU
//     time the setup's Linux process spends in that time (less sensitive to
//     other load on the machine than the wall time);
//   - the moments after Install: main dialog hidden and destroyed, progress
//     dialog shown, last item written (its file has its full size), progress
//     dialog hidden and destroyed, the installed program's process created and
//     ended (its own creation and exit times), final report shown; of these,
//     Install to progress dialog shown and last item written to report, with
//     the program's own run time beside it;
//   - the process's peak working set (GetProcessMemoryInfo) at the final report;
//   - in one more round, not counted in the others: how long the progress
//     dialog takes to answer a message sent to it during the copy (what a
//     click, a move or a repaint waits for);
//   - the same payload extracted by the archive tool (`larkspan-archive
//     extract`), less the tool's own start-up (a `list` of the same archive),
//     as the yardstick of the copy.
// Every figure is the median of N rounds (setup, tool extract, tool list,
// interleaved). Under Wine it also says whether top-level windows are handed
// to a window manager ("managed"), which decides whether closing a window waits
// for one.
//
//   setup_bench SETUP.exe PAYLOAD DESTINATION ARCHIVE_TOOL.exe [--reps N]
//   setup_bench --timeline SETUP.exe PAYLOAD DESTINATION [--reps N]
// PAYLOAD is the archive inside the setup (its .layout file gives the sizes).
// DESTINATION is emptied first and created, so that no question is asked.
// --timeline only runs the setup through its dialogs and prints every moment
// after Install of each run.
#include "bench/bench_common.h"
#include "tests/e2e/driver/e2e_driver.h"
#include "common/unique_handle.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

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

// Whether Wine hands this prefix's top-level windows to a window manager:
// its X11 driver's "Managed" value, "Y" when it is not set.
std::string WindowMode() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return "Windows (a closing window waits for nothing)";
    }
    char value[16] = "";
    DWORD size = sizeof value;
    const LSTATUS status = ::RegGetValueA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", "Managed", RRF_RT_REG_SZ,
                                          nullptr, value, &size);
    const bool unmanaged = status == ERROR_SUCCESS && (value[0] == 'N' || value[0] == 'n');
    return unmanaged ? "unmanaged (Wine's X11 driver: Managed = N; closing a window waits for nobody)"
                     : "managed (Wine's X11 driver: Managed not N; closing a window waits up to 2 s for the window "
                       "manager's answer)";
}

// Ticks (100 ns) of the system clock, the clock of process creation and exit times.
std::uint64_t SystemTicks() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return support::Ticks(now);
}

// A process started by `parent`, opened so that its times stay readable after
// it has ended; null when there is none (yet).
HANDLE OpenChildProcess(DWORD parent) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    HANDLE child = nullptr;
    for (BOOL more = ::Process32First(snapshot, &entry); more && child == nullptr;
         more = ::Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) {
            child = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        }
    }
    ::CloseHandle(snapshot);
    return child;
}

// True when the file exists with exactly this size.
bool HasSize(const std::string& path, std::uint64_t size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    return ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == size;
}

int Fail(const char* what) {
    std::fprintf(stderr, "setup_bench: %s\n", what);
    return 1;
}

// Moments after Install was pressed, in seconds; negative when not seen.
struct Timeline {
    double mainHidden = -1;
    double mainGone = -1;
    double progressShown = -1;
    double lastItemWritten = -1;
    double progressHidden = -1;
    double progressGone = -1;
    double programStarted = -1;  // its process's creation time
    double programEnded = -1;    // its process's exit time
    double reportShown = -1;
};

// The item the setup writes last, as the layout gives it.
struct LastItem {
    std::string name;
    std::uint64_t size = 0;
};

// Figures of one run of the setup through its dialogs.
struct SetupRun {
    bool ok = false;
    double startup = 0;   // process start to licence dialog shown
    double copy = 0;      // progress dialog shown to gone
    double copyCpu = -1;  // CPU time of the setup's host process over the copy; -1 when unknown
    double installToReport = 0;
    Timeline timeline;
    double peakWorkingSet = 0;  // MiB
    double peakCommit = 0;      // MiB
    std::uint64_t installed = 0;
    std::uint64_t files = 0;
    std::string report;
    std::vector<double> answers;  // seconds, one per message sent during the copy
};

// One run: licence, main dialog (watched for `watchSeconds` when not 0),
// install into `destination`, final report.
SetupRun RunSetup(const std::string& setupPath, const std::string& destination, const LastItem& lastItem,
                  double watchSeconds, bool probe) {
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

    // The Linux process that runs the setup, for its CPU time.
    const std::string hostPid = FindHostProcess(setupPath.substr(setupPath.find_last_of("\\/") + 1));
    if (watchSeconds > 0) {
        // Let the dialog settle, then watch it play without touching it.
        ::Sleep(1000);
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
    const std::string lastItemPath = bench::JoinItemPath(destination, lastItem.name);
    e2e::PressButton(main, IDOK);
    const double pressed = bench::Now();
    const std::uint64_t pressedTicks = SystemTicks();
    Timeline& at = run.timeline;
    HWND progress = nullptr;
    HWND report = nullptr;
    double copyCpuStart = -1;
    win32::UniqueHandle program;
    // Everything is looked at without sending the setup a message; only the
    // probing round sends the progress dialog one.
    while (report == nullptr && bench::Now() - pressed < kStageTimeoutMs / 1000.0) {
        // Each look is a request to the Wine server, which the setup needs for
        // its own file calls: only what has not been seen yet is looked at.
        const double t = bench::Now() - pressed;
        if (at.mainHidden < 0 && !::IsWindowVisible(main)) at.mainHidden = t;
        if (at.mainHidden >= 0 && at.mainGone < 0 && !::IsWindow(main)) at.mainGone = t;
        if (progress == nullptr) {
            progress = e2e::FindProgressDialog(setup.processId());
            if (progress != nullptr) {
                at.progressShown = t;
                copyCpuStart = HostCpuSeconds(hostPid);
            }
        } else if (at.progressHidden < 0) {
            if (!::IsWindowVisible(progress)) {
                at.progressHidden = t;
                const double copyCpuEnd = HostCpuSeconds(hostPid);
                if (copyCpuStart >= 0 && copyCpuEnd >= 0) run.copyCpu = copyCpuEnd - copyCpuStart;
            }
        } else if (at.progressGone < 0 && !::IsWindow(progress)) {
            at.progressGone = t;
        }
        if (at.progressShown >= 0 && at.lastItemWritten < 0 && HasSize(lastItemPath, lastItem.size)) {
            at.lastItemWritten = t;
        }
        if (at.lastItemWritten >= 0 && !program) program.reset(OpenChildProcess(setup.processId()));
        if (at.progressHidden >= 0) {
            report = e2e::FindMessageBox(setup.processId());
            if (report != nullptr) at.reportShown = t;
        }
        if (probe && progress != nullptr && at.progressHidden < 0) {
            // A sent message is handled when the setup next drains its queue.
            constexpr UINT kAnswerTimeoutMs = 5000;
            DWORD_PTR result = 0;
            const double sent = bench::Now();
            if (::SendMessageTimeoutA(progress, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &result) != 0) {
                run.answers.push_back(bench::Now() - sent);
            }
            ::Sleep(3);
        } else if (report == nullptr) {
            ::Sleep(kPollMs);
        }
    }
    if (at.progressShown < 0) {
        Fail("the progress dialog did not appear");
        return run;
    }
    if (program) {
        FILETIME created, exited, kernel, user;
        if (::GetProcessTimes(program.get(), &created, &exited, &kernel, &user)) {
            auto since = [&](const FILETIME& time) {
                return (static_cast<double>(support::Ticks(time)) - static_cast<double>(pressedTicks)) / 1e7;
            };
            at.programStarted = since(created);
            if (::WaitForSingleObject(program.get(), 0) == WAIT_OBJECT_0) at.programEnded = since(exited);
        }
    }
    const double copyStart = pressed + at.progressShown;
    const double copyEnd = pressed + at.progressHidden;
    const double reported = pressed + at.reportShown;

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

// The two waits after Install that the user sees, per run: Install to the
// progress dialog, and the last item written to the report, less the
// installed program's own run (process created to ended), which the setup
// waits for. A run where a moment was not seen adds nothing.
struct Waits {
    std::vector<double> installToProgress, lastItemToReport, programRun, lastItemToReportOwn;
    void Add(const Timeline& at) {
        if (at.progressShown >= 0) installToProgress.push_back(at.progressShown);
        if (at.lastItemWritten < 0 || at.reportShown < 0) return;
        lastItemToReport.push_back(at.reportShown - at.lastItemWritten);
        if (at.programStarted < 0 || at.programEnded < 0) return;
        programRun.push_back(at.programEnded - at.programStarted);
        lastItemToReportOwn.push_back(at.reportShown - at.lastItemWritten - programRun.back());
    }
    void Print() const {
        constexpr double kProgressTarget = 0.3;
        constexpr double kReportTarget = 0.5;
        PrintSeries("Install pressed to progress dialog shown:", installToProgress, "s", 3);
        PrintSeries("last item written to final report:", lastItemToReport, "s", 3);
        if (programRun.empty()) {
            std::printf("  the program item's process was not seen\n");
        } else {
            PrintSeries("  of it the program item's own run:", programRun, "s", 3);
            PrintSeries("  the rest (the setup's and the system's):", lastItemToReportOwn, "s", 3);
        }
        const double progress = bench::Median(installToProgress);
        std::printf("Install -> progress dialog = %.3f s   target <= %.1f s   %s\n", progress, kProgressTarget,
                    progress <= kProgressTarget ? "met" : "MISSED");
        if (!lastItemToReportOwn.empty()) {
            const double rest = bench::Median(lastItemToReportOwn);
            std::printf("last item -> report, less the program's run = %.3f s   target <= %.1f s   %s\n", rest,
                        kReportTarget, rest <= kReportTarget ? "met" : "MISSED");
        }
    }
};

// --timeline: the setup through its dialogs `reps` times, every moment after
// Install printed per run.
int RunTimeline(const std::string& setupPath, const std::string& destination, const LastItem& lastItem, int reps) {
    std::printf("moments after Install pressed, in seconds (- not seen):\n");
    std::printf("%-4s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n", "run", "main", "main", "progress", "last", "progress",
                "progress", "program", "program", "report");
    std::printf("%-4s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n", "", "hidden", "gone", "shown", "item", "hidden", "gone",
                "started", "ended", "shown");
    Waits waits;
    std::vector<double> startup;
    for (int r = 0; r < reps; ++r) {
        const SetupRun run = RunSetup(setupPath, destination, lastItem, 0.0, false);
        if (!run.ok) {
            std::printf("run %d failed (report \"%s\")\n", r + 1, run.report.c_str());
            return 1;
        }
        startup.push_back(run.startup);
        const Timeline& at = run.timeline;
        std::printf("%-4d", r + 1);
        for (double moment : {at.mainHidden, at.mainGone, at.progressShown, at.lastItemWritten, at.progressHidden,
                              at.progressGone, at.programStarted, at.programEnded, at.reportShown}) {
            if (moment < 0) {
                std::printf(" %8s", "-");
            } else {
                std::printf(" %8.3f", moment);
            }
        }
        std::printf("\n");
        std::fflush(stdout);
        waits.Add(at);
    }
    PrintSeries("start to licence dialog shown:", startup, "s", 3);
    waits.Print();
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool timeline = argc >= 2 && std::strcmp(argv[1], "--timeline") == 0;
    if (timeline) {
        --argc;
        ++argv;
    }
    if (argc < (timeline ? 4 : 5)) {
        std::fputs(
            "usage: setup_bench SETUP.exe PAYLOAD DESTINATION ARCHIVE_TOOL.exe [--reps N]\n"
            "       setup_bench --timeline SETUP.exe PAYLOAD DESTINATION [--reps N]\n",
            stderr);
        return 2;
    }
    const int repsAt = timeline ? 4 : 5;
    int reps = 5;
    if (argc >= repsAt + 2 && std::strcmp(argv[repsAt], "--reps") == 0) reps = std::max(1, std::atoi(argv[repsAt + 1]));
    const std::string setupPath = e2e::WindowsPath(argv[1]);
    const std::string payloadPath = e2e::WindowsPath(argv[2]);
    const std::vector<bench::LayoutItem> layout = bench::ReadLayout(argv[2]);
    if (layout.empty()) return Fail("the payload's layout file cannot be read");
    std::uint64_t payloadBytes = 0;
    for (const bench::LayoutItem& item : layout) payloadBytes += item.uncompressedSize;
    const LastItem lastItem{layout.back().name, layout.back().uncompressedSize};
    const std::string destination = argv[3];

    WIN32_FILE_ATTRIBUTE_DATA setupFile{};
    ::GetFileAttributesExA(setupPath.c_str(), GetFileExInfoStandard, &setupFile);
    std::printf("setup: %s, %.1f MiB file; payload %zu items, %.1f MiB uncompressed\n", argv[1],
                static_cast<double>(setupFile.nFileSizeLow) / 1048576.0, layout.size(),
                static_cast<double>(payloadBytes) / 1048576.0);
    std::printf("windows: %s\n", WindowMode().c_str());
    if (timeline) return RunTimeline(setupPath, destination, lastItem, reps);

    const std::string toolDestination = destination + "-tool";
    const std::string tool = e2e::WindowsPath(argv[4]);
    std::printf("rounds: %d, each: the setup through its dialogs, the tool's extract, the tool's list\n", reps);
    std::fflush(stdout);

    std::vector<double> startup, copy, copyCpu, installToReport, workingSet, commit, toolExtract, toolList;
    Waits waits;
    SetupRun last;
    bool failed = false;
    for (int r = 0; r < reps && !failed; ++r) {
        const SetupRun run = RunSetup(setupPath, destination, lastItem, r == 0 ? 10.0 : 0.0, false);
        if (!run.ok || run.installed != payloadBytes) {
            std::printf("round %d: setup run failed (installed %llu of %llu bytes, report \"%s\")\n", r + 1,
                        static_cast<unsigned long long>(run.installed), static_cast<unsigned long long>(payloadBytes),
                        run.report.c_str());
            failed = true;
            break;
        }
        startup.push_back(run.startup);
        copy.push_back(run.copy);
        if (run.copyCpu >= 0) copyCpu.push_back(run.copyCpu);
        installToReport.push_back(run.installToReport);
        waits.Add(run.timeline);
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
    const SetupRun probed = RunSetup(setupPath, destination, lastItem, 0.0, true);
    if (!probed.ok) return Fail("the probed round failed");

    std::vector<double> toolNet;
    for (std::size_t i = 0; i < toolExtract.size(); ++i) toolNet.push_back(toolExtract[i] - toolList[i]);
    const double copySeconds = bench::Median(copy);
    const double toolSeconds = bench::Median(toolNet);
    const double mb = static_cast<double>(payloadBytes) / 1e6;
    PrintSeries("start to licence dialog shown:", startup, "s", 3);
    PrintSeries("copy wall time (progress dialog shown to gone):", copy, "s", 3);
    std::printf("%-44s %8.1f MB/s of uncompressed output\n", "  copy throughput:", mb / copySeconds);
    if (!copyCpu.empty()) PrintSeries("  CPU time of the setup over the copy:", copyCpu, "s", 2);
    PrintSeries("Install pressed to final report:", installToReport, "s", 3);
    std::printf("%-44s (copy, launch of the program item, report)\n", "");
    waits.Print();
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
