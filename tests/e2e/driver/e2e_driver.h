// Drives a setup program from outside, as a user at the screen would: starts
// the .exe, finds its windows by process, reads what they show, ticks, types,
// presses buttons and closes windows, and collects the exit code.
//
// Nothing here ever blocks on the setup: commands are posted, and every read
// goes through SendMessageTimeout, so the setup's own modal loops (a question
// asked from inside the copy, say) always keep running.
#pragma once

#include "tests/support/files.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// Dialog manager and message box control ids.
constexpr int kMessageBoxTextId = 0xFFFF;  // the static that holds a message box's text
// The static that shows a message box's icon: 0x0440 (stc1) in Wine, 0x0014 in Windows.
constexpr int kMessageBoxIconIds[] = {0x0440, 0x0014};

struct WindowInfo {
    HWND window = nullptr;
    std::string className;
    std::string caption;
    bool messageBox = false;  // a message box (seen with its text)
    std::string text;         // a message box's text
};

// --- Reading and operating windows of another process ----------------------

// The window's text (WM_GETTEXTLENGTH, WM_GETTEXT); empty when it does not answer.
[[nodiscard]] std::string ReadText(HWND window);
[[nodiscard]] std::string ClassName(HWND window);
[[nodiscard]] HWND Control(HWND dialog, int id) noexcept;
[[nodiscard]] std::string ControlText(HWND dialog, int id);
[[nodiscard]] bool IsControlEnabled(HWND dialog, int id) noexcept;
[[nodiscard]] bool IsChecked(HWND dialog, int id) noexcept;
// The default push button: the one with BS_DEFPUSHBUTTON, else DM_GETDEFID; 0 if none.
[[nodiscard]] int DefaultButtonId(HWND dialog);
// A progress bar's position (PBM_GETPOS); -1 when it does not answer.
[[nodiscard]] int ProgressPosition(HWND bar) noexcept;
// Ids of the dialog's visible push buttons in window order, with their texts.
[[nodiscard]] std::vector<std::pair<int, std::string>> Buttons(HWND dialog);

// A click on a button (BM_CLICK, posted), as the mouse makes it.
bool PressButton(HWND dialog, int id) noexcept;
// Replaces an edit field's text, as if typed (WM_SETTEXT).
bool TypeText(HWND dialog, int id, const std::string& text) noexcept;
// The title bar's close box (WM_SYSCOMMAND SC_CLOSE, posted).
bool PressCloseBox(HWND window) noexcept;
// The Escape key, posted to the window that has the keyboard focus in the
// dialog's thread (or the dialog itself), where the dialog manager sees it.
bool PressEscape(HWND dialog) noexcept;

// --- Message boxes ----------------------------------------------------------

enum class IconKind { None, Error, Question, Warning, Information, Unknown };
[[nodiscard]] const char* IconName(IconKind kind) noexcept;

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    std::vector<std::pair<int, std::string>> buttons;
    int defaultButton = 0;
    IconKind icon = IconKind::None;
};

[[nodiscard]] bool IsMessageBox(HWND window);
// Reads a message box once it has painted (the icon is recognised from the
// screen, compared with the system's own icons).
[[nodiscard]] MessageBoxInfo ReadMessageBox(HWND box);

// --- The setup process ------------------------------------------------------

class SetupProcess {
public:
    SetupProcess() = default;
    SetupProcess(const SetupProcess&) = delete;
    SetupProcess& operator=(const SetupProcess&) = delete;
    SetupProcess(SetupProcess&& other) noexcept;
    SetupProcess& operator=(SetupProcess&& other) noexcept;
    // Ends a setup that is still running, so that a failed test leaves nothing behind.
    ~SetupProcess();

    // Starts the program (command line: the quoted path, then the arguments
    // if any) in the given current directory (empty: the driver's own), with
    // the driver's rights, or with either half of an administrator's split
    // token: the filtered rights that a user's programs have under UAC, or the
    // elevated ones. Returns false with error set.
    enum class Rights { Own, Limited, Elevated };
    [[nodiscard]] bool Start(const std::string& exePath, const std::string& currentDirectory = {},
                             const std::string& arguments = {}, Rights rights = Rights::Own);
    [[nodiscard]] DWORD processId() const noexcept { return info_.dwProcessId; }
    [[nodiscard]] HANDLE processHandle() const noexcept { return info_.hProcess; }
    [[nodiscard]] const std::string& error() const noexcept { return error_; }

    // Visible top-level windows of the process right now (also recorded as seen).
    std::vector<WindowInfo> VisibleWindows();
    // Waits until a visible top-level dialog ("#32770") of the process with this
    // caption exists; null after the time-out or when the process has ended.
    HWND WaitForDialog(const std::string& caption, DWORD timeoutMs);
    // Waits until a visible top-level window of the process matches.
    HWND WaitForWindow(const std::function<bool(const WindowInfo&)>& match, DWORD timeoutMs);
    // Waits for a message box of the process (other than `except`).
    HWND WaitForMessageBox(DWORD timeoutMs, HWND except = nullptr);
    // Waits until the window is gone or hidden.
    bool WaitForWindowGone(HWND window, DWORD timeoutMs);
    // Waits for the process to end while watching its windows; the exit code,
    // or nothing after the time-out.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs);
    [[nodiscard]] bool HasExited() const noexcept;
    // Keeps watching the windows for a while (to see that nothing else appears).
    void Watch(DWORD ms);
    void Terminate() noexcept;
    // Holds and releases the setup's main thread: its windows stay on the
    // screen, unchanged, while a picture is taken of them.
    bool Freeze() noexcept;
    bool Thaw() noexcept;

    // Every distinct visible top-level window seen so far during the waits.
    [[nodiscard]] const std::vector<WindowInfo>& seen() const noexcept { return seen_; }
    // Seen windows other than those listed.
    [[nodiscard]] std::vector<WindowInfo> SeenExcept(const std::vector<HWND>& expected) const;
    // Seen message boxes, in the order they appeared.
    [[nodiscard]] std::vector<WindowInfo> SeenMessageBoxes() const;

private:
    void Record(const std::vector<WindowInfo>& windows);
    void Close() noexcept;

    PROCESS_INFORMATION info_{};
    std::string error_;
    std::vector<WindowInfo> seen_;
};

// The setup's control ids, as its windows show them.
inline constexpr int kAgreeBox = 1000;
inline constexpr int kLicenceText = 1010;
inline constexpr int kFolderEdit = 1011;
inline constexpr int kBrowseButton = 1012;
inline constexpr int kProgressBar = 1002;
inline constexpr int kProgressFile = 1003;

// The visible progress dialog (the one with the file-name control) of the
// process, found without sending it a message: the setup takes its messages
// only every few milliseconds while it copies. Null when there is none.
[[nodiscard]] HWND FindProgressDialog(DWORD processId) noexcept;
// A visible message box of the process, found the same way; null when there is none.
[[nodiscard]] HWND FindMessageBox(DWORD processId);

// Polling period of every wait.
constexpr DWORD kPollMs = 25;

// "caption [class]" lines, for failure messages.
[[nodiscard]] std::string Describe(const std::vector<WindowInfo>& windows);
using support::WindowsPath;

}  // namespace e2e
