// larkspan-drive: takes a setup program through a whole installation, the way
// a user would click through it, and prints what it reported.
//
//   larkspan-drive install SETUP.exe DEST [--pause-ms N] [--notify FILE]
//
// Ticks the licence box and presses "I agree", types DEST into the folder field
// and presses Install, answers Yes when asked to create the folder, waits for
// the final report, prints its text, presses OK and prints the setup's exit
// code. --pause-ms waits N ms at every stage (so that screenshots can be
// taken; the copy is held meanwhile, a third of the way in); --notify appends one line per stage reached (licence,
// main, progress, report) to FILE, flushed at once, for a script that watches it. The driver exits 0 when the setup ran
// to its final report and ended.
#include "tests/e2e/driver/e2e_driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kStageTimeoutMs = 60000;

struct Options {
    std::string setup;
    std::string destination;
    DWORD pauseMs = 0;
    std::string notifyFile;
};

void Usage() { std::fputs("usage: larkspan-drive install SETUP.exe DEST [--pause-ms N] [--notify FILE]\n", stderr); }

int Fail(const std::string& message) {
    std::fprintf(stderr, "larkspan-drive: %s\n", message.c_str());
    return 2;
}

void Stage(const Options& options, const char* stage) {
    std::printf("stage: %s\n", stage);
    std::fflush(stdout);
    if (!options.notifyFile.empty()) {
        HANDLE file = ::CreateFileA(options.notifyFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const std::string line = std::string(stage) + "\n";
            DWORD written = 0;
            ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            ::CloseHandle(file);
        }
    }
    if (options.pauseMs) ::Sleep(options.pauseMs);
}

bool IsProgressDialog(HWND window) { return e2e::Control(window, e2e::kProgressFile) != nullptr; }

int Install(const Options& options) {
    e2e::SetupProcess setup;
    if (!setup.Start(options.setup)) return Fail(setup.error());

    HWND licence = setup.WaitForDialog("License agreement", kStageTimeoutMs);
    if (!licence) return Fail("the licence dialog did not appear");
    Stage(options, "licence");
    e2e::PressButton(licence, e2e::kAgreeBox);
    for (int i = 0; i < 200 && !e2e::IsControlEnabled(licence, IDOK); ++i) ::Sleep(e2e::kPollMs);
    if (!e2e::IsControlEnabled(licence, IDOK)) return Fail("\"I agree\" stayed disabled after ticking the box");
    e2e::PressButton(licence, IDOK);

    HWND main = setup.WaitForDialog("Larkspan Setup", kStageTimeoutMs);
    if (!main || IsProgressDialog(main)) return Fail("the main dialog did not appear");
    Stage(options, "main");
    if (!e2e::TypeText(main, e2e::kFolderEdit, options.destination))
        return Fail("could not type the destination folder");
    e2e::PressButton(main, IDOK);

    // Questions, the progress dialog, and finally the report.
    bool progressSeen = false;
    HWND answered = nullptr;
    const ULONGLONG end = ::GetTickCount64() + 10 * kStageTimeoutMs;
    while (::GetTickCount64() < end) {
        for (const e2e::WindowInfo& window : setup.VisibleWindows()) {
            if (e2e::IsMessageBox(window.window)) {
                if (window.window == answered) continue;
                const e2e::MessageBoxInfo box = e2e::ReadMessageBox(window.window);
                const bool isQuestion = e2e::Control(box.window, IDYES) != nullptr;
                if (isQuestion && box.text.find("does not yet exist") != std::string::npos) {
                    std::printf("question: %s\nanswer: Yes\n", box.text.c_str());
                    e2e::PressButton(box.window, IDYES);
                    answered = box.window;
                    continue;
                }
                if (isQuestion || box.owner != nullptr) {
                    std::printf("unexpected message box: %s\n", box.text.c_str());
                    e2e::PressButton(box.window, isQuestion ? IDNO : IDOK);
                    answered = box.window;
                    continue;
                }
                Stage(options, "report");
                std::printf("report:\n%s\n", box.text.c_str());
                e2e::PressButton(box.window, IDOK);
                const auto code = setup.WaitForExit(kStageTimeoutMs);
                if (!code) return Fail("the setup did not end after its report");
                std::printf("exit code: %lu\n", static_cast<unsigned long>(*code));
                std::fflush(stdout);
                return 0;
            }
            if (!progressSeen && window.className == "#32770" && IsProgressDialog(window.window)) {
                progressSeen = true;
                if (options.pauseMs) {
                    // Mid-copy: hold the copy for the pause, so that the
                    // dialog can be seen (and photographed) as it works.
                    HWND bar = e2e::Control(window.window, e2e::kProgressBar);
                    for (int i = 0; i < 400 && e2e::ProgressPosition(bar) < 30; ++i) ::Sleep(5);
                    const bool frozen = setup.Freeze();
                    Stage(options, "progress");
                    if (frozen) setup.Thaw();
                } else {
                    Stage(options, "progress");
                }
            }
        }
        if (setup.HasExited()) {
            const auto code = setup.WaitForExit(0);
            return Fail("the setup ended without a report, exit code " + std::to_string(code ? *code : 0));
        }
        ::Sleep(e2e::kPollMs);
    }
    return Fail("no final report appeared");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::string(argv[1]) != "install") {
        Usage();
        return 2;
    }
    Options options;
    options.setup = e2e::WindowsPath(argv[2]);
    options.destination = argv[3];
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pause-ms" && i + 1 < argc) {
            options.pauseMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--notify" && i + 1 < argc) {
            options.notifyFile = e2e::WindowsPath(argv[++i]);
        } else {
            Usage();
            return 2;
        }
    }
    return Install(options);
}
