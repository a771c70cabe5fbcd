#include "tests/e2e/driver/e2e_driver.h"

#include "common/memory_surface.h"
#include "common/window_dc.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace e2e {
namespace {

constexpr DWORD kSendTimeoutMs = 5000;

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) noexcept {
    DWORD_PTR value = 0;
    const LRESULT ok = ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &value);
    if (result) *result = value;
    return ok != 0;
}

struct EnumContext {
    DWORD processId;
    std::vector<WindowInfo>* windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM lParam) {
    auto* context = reinterpret_cast<EnumContext*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == context->processId && ::IsWindowVisible(window)) {
        WindowInfo info;
        info.window = window;
        info.className = ClassName(window);
        info.caption = ReadText(window);
        info.messageBox = IsMessageBox(window);
        if (info.messageBox) info.text = ControlText(window, kMessageBoxTextId);
        context->windows->push_back(std::move(info));
    }
    return TRUE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM lParam) {
    auto* children = reinterpret_cast<std::vector<HWND>*>(lParam);
    children->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    ::EnumChildWindows(parent, CollectChildren, reinterpret_cast<LPARAM>(&children));
    // Only direct children: a dialog's controls.
    children.erase(
        std::remove_if(children.begin(), children.end(), [parent](HWND child) { return ::GetParent(child) != parent; }),
        children.end());
    return children;
}

bool IsPushButton(HWND window) {
    if (ClassName(window) != "Button") return false;
    const LONG_PTR type = ::GetWindowLongPtrA(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// --- Icon recognition --------------------------------------------------------
//
// Icon handles belong to the process that loaded them, so the message box's
// icon cannot be asked for. Instead the pixels that the box shows are taken
// from the screen and compared with the system's icons drawn here at the same
// size; only pixels that every reference covers opaquely are compared.

using Pixels = std::vector<COLORREF>;

// The pixels that `draw` puts into a bitmap of this size, compatible with the
// screen; nothing when drawing fails.
std::optional<Pixels> DrawnPixels(int width, int height, const std::function<bool(HDC)>& draw) {
    const win32::WindowDc screen(nullptr);
    win32::MemorySurface surface;
    if (!screen || !surface.create(screen.get(), width, height) || !draw(surface.dc.get())) return std::nullopt;
    Pixels pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) pixels.push_back(::GetPixel(surface.dc.get(), column, row));
    return pixels;
}

std::optional<Pixels> RenderIcon(HICON icon, int width, int height, COLORREF background) {
    return DrawnPixels(width, height, [&](HDC memory) {
        HBRUSH brush = ::CreateSolidBrush(background);
        RECT all{0, 0, width, height};
        ::FillRect(memory, &all, brush);
        ::DeleteObject(brush);
        return ::DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL) != FALSE;
    });
}

int ChannelDistance(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
           std::abs(GetBValue(a) - GetBValue(b));
}

// Mean colour distance over the opaque pixels of the reference; -1 if unusable.
double Distance(const Pixels& shown, HICON icon, int width, int height) {
    const auto onBlack = RenderIcon(icon, width, height, RGB(0, 0, 0));
    const auto onWhite = RenderIcon(icon, width, height, RGB(255, 255, 255));
    if (!onBlack || !onWhite || onBlack->size() != shown.size()) return -1;
    long long sum = 0;
    long long count = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        if ((*onBlack)[i] != (*onWhite)[i]) continue;  // (partly) transparent here
        sum += ChannelDistance((*onBlack)[i], shown[i]);
        ++count;
    }
    if (count < static_cast<long long>(shown.size()) / 4) return -1;
    return static_cast<double>(sum) / static_cast<double>(count);
}

// The message box's icon static (SS_ICON), or null.
HWND IconControl(HWND box) {
    for (int id : kMessageBoxIconIds) {
        HWND control = ::GetDlgItem(box, id);
        if (control && ClassName(control) == "Static" &&
            (::GetWindowLongPtrA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            return control;
        }
    }
    return nullptr;
}

IconKind RecogniseIcon(HWND box) {
    HWND iconControl = IconControl(box);
    if (!iconControl || !::IsWindowVisible(iconControl)) return IconKind::None;
    RECT client{};
    if (!::GetClientRect(iconControl, &client)) return IconKind::Unknown;
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return IconKind::None;
    POINT origin{0, 0};
    ::ClientToScreen(iconControl, &origin);
    const auto shown = DrawnPixels(width, height, [&](HDC memory) {
        HDC screen = ::GetDC(nullptr);
        const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
        ::ReleaseDC(nullptr, screen);
        return copied;
    });
    if (!shown) return IconKind::Unknown;

    // A blank icon area (all one colour) means no icon.
    if (std::all_of(shown->begin(), shown->end(), [&](COLORREF c) { return c == shown->front(); })) {
        return IconKind::None;
    }
    const std::pair<IconKind, LPCSTR> candidates[] = {
        {IconKind::Error, IDI_HAND},
        {IconKind::Question, IDI_QUESTION},
        {IconKind::Warning, IDI_EXCLAMATION},
        {IconKind::Information, IDI_ASTERISK},
    };
    IconKind best = IconKind::Unknown;
    double bestDistance = 1e9;
    for (const auto& [kind, id] : candidates) {
        HICON icon = ::LoadIconA(nullptr, id);
        if (!icon) continue;
        const double distance = Distance(*shown, icon, width, height);
        if (distance >= 0 && distance < bestDistance) {
            bestDistance = distance;
            best = kind;
        }
    }
    // Identical drawing gives 0; allow for small differences of blending.
    return bestDistance <= 30.0 ? best : IconKind::Unknown;
}

}  // namespace

namespace {

// A top-level window of one process, looked for without sending it a message.
struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchProgressDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !::IsWindowVisible(window) || !::GetDlgItem(window, kProgressFile)) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK MatchMessageBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !::IsWindowVisible(window) || !IsMessageBox(window)) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND FindProgressDialog(DWORD processId) noexcept {
    WindowSearch search{processId, nullptr};
    ::EnumWindows(MatchProgressDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindMessageBox(DWORD processId) {
    WindowSearch search{processId, nullptr};
    ::EnumWindows(MatchMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ReadText(HWND window) {
    DWORD_PTR length = 0;
    if (!window || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) return {};
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    const int length = ::GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

HWND Control(HWND dialog, int id) noexcept { return ::GetDlgItem(dialog, id); }

std::string ControlText(HWND dialog, int id) { return ReadText(Control(dialog, id)); }

bool IsControlEnabled(HWND dialog, int id) noexcept {
    HWND control = Control(dialog, id);
    return control && ::IsWindowEnabled(control);
}

bool IsChecked(HWND dialog, int id) noexcept {
    DWORD_PTR state = 0;
    HWND control = Control(dialog, id);
    return control && Send(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

int DefaultButtonId(HWND dialog) {
    for (HWND child : Children(dialog)) {
        if (ClassName(child) == "Button" && (::GetWindowLongPtrA(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            return ::GetDlgCtrlID(child);
        }
    }
    DWORD_PTR result = 0;
    if (Send(dialog, DM_GETDEFID, 0, 0, &result) && HIWORD(result) == DC_HASDEFID && Control(dialog, LOWORD(result))) {
        return LOWORD(result);
    }
    return 0;
}

std::vector<std::pair<int, std::string>> Buttons(HWND dialog) {
    std::vector<std::pair<int, std::string>> buttons;
    for (HWND child : Children(dialog)) {
        if (::IsWindowVisible(child) && IsPushButton(child)) {
            buttons.emplace_back(::GetDlgCtrlID(child), ReadText(child));
        }
    }
    return buttons;
}

int ProgressPosition(HWND bar) noexcept {
    DWORD_PTR position = 0;
    return bar && Send(bar, PBM_GETPOS, 0, 0, &position) ? static_cast<int>(position) : -1;
}

bool PressButton(HWND dialog, int id) noexcept {
    HWND button = Control(dialog, id);
    return button && ::PostMessageA(button, BM_CLICK, 0, 0);
}

bool TypeText(HWND dialog, int id, const std::string& text) noexcept {
    HWND edit = Control(dialog, id);
    DWORD_PTR result = 0;
    return edit && Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) && result;
}

bool PressCloseBox(HWND window) noexcept { return ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool PressEscape(HWND dialog) noexcept {
    HWND target = dialog;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = ::GetWindowThreadProcessId(dialog, nullptr);
    if (::GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || ::IsChild(dialog, info.hwndFocus))) {
        target = info.hwndFocus;
    }
    const UINT scan = ::MapVirtualKeyA(VK_ESCAPE, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
    if (!::PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, down)) return false;
    // The key-down may have closed the dialog already, its controls with it
    // (seen on a loaded machine): then the key-up has nowhere to go, as the
    // key was pressed all the same.
    static_cast<void>(::PostMessageA(target, WM_KEYUP, VK_ESCAPE, up));
    return true;
}

const char* IconName(IconKind kind) noexcept {
    switch (kind) {
        case IconKind::None:
            return "none";
        case IconKind::Error:
            return "error";
        case IconKind::Question:
            return "question";
        case IconKind::Warning:
            return "warning";
        case IconKind::Information:
            return "information";
        case IconKind::Unknown:
            break;
    }
    return "unknown";
}

bool IsMessageBox(HWND window) {
    // Dialogs of the setup have statics with id 0xFFFF (-1) too; only a
    // message box also has an icon static, and nothing but statics and buttons.
    if (ClassName(window) != "#32770" || !Control(window, kMessageBoxTextId) || !IconControl(window)) return false;
    for (HWND child : Children(window)) {
        const std::string name = ClassName(child);
        if (name != "Static" && name != "Button") return false;
    }
    return true;
}

MessageBoxInfo ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.window = box;
    info.owner = ::GetWindow(box, GW_OWNER);
    info.caption = ReadText(box);
    info.text = ControlText(box, kMessageBoxTextId);
    info.buttons = Buttons(box);
    info.defaultButton = DefaultButtonId(box);
    // The box may not have painted yet: look again for a while.
    for (int attempt = 0; attempt < 40; ++attempt) {
        ::RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        info.icon = RecogniseIcon(box);
        if (info.icon != IconKind::Unknown && info.icon != IconKind::None) break;
        ::Sleep(kPollMs * 2);
    }
    return info;
}

// --- SetupProcess -------------------------------------------------------------

SetupProcess::SetupProcess(SetupProcess&& other) noexcept
    : info_(std::exchange(other.info_, PROCESS_INFORMATION{})),
      error_(std::move(other.error_)),
      seen_(std::move(other.seen_)) {}

SetupProcess& SetupProcess::operator=(SetupProcess&& other) noexcept {
    if (this != &other) {
        Terminate();
        Close();
        info_ = std::exchange(other.info_, PROCESS_INFORMATION{});
        error_ = std::move(other.error_);
        seen_ = std::move(other.seen_);
    }
    return *this;
}

SetupProcess::~SetupProcess() {
    Terminate();
    Close();
}

void SetupProcess::Close() noexcept {
    if (info_.hThread) ::CloseHandle(info_.hThread);
    if (info_.hProcess) ::CloseHandle(info_.hProcess);
    info_ = PROCESS_INFORMATION{};
}

bool SetupProcess::Start(const std::string& exePath, const std::string& currentDirectory, const std::string& arguments,
                         Rights rights) {
    Terminate();
    Close();
    seen_.clear();
    std::string commandLine = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The other half of the split token where the driver's own is not the one
    // asked for (Wine 8 starts programs elevated, Wine 10 filtered).
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    bool other = false;
    if (rights != Rights::Own) {
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) ||
            !::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) {
            error_ = "no token: error " + std::to_string(::GetLastError());
            if (token) ::CloseHandle(token);
            return false;
        }
        other = (elevation.TokenIsElevated != 0) != (rights == Rights::Elevated);
        if (other && !::GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
            error_ = "no linked token: error " + std::to_string(::GetLastError());
            ::CloseHandle(token);
            return false;
        }
        ::CloseHandle(token);
    }
    const char* folder = currentDirectory.empty() ? nullptr : currentDirectory.c_str();
    const BOOL started = other ? ::CreateProcessAsUserA(linked.LinkedToken, nullptr, commandLine.data(), nullptr,
                                                        nullptr, FALSE, 0, nullptr, folder, &startup, &info_)
                               : ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                  folder, &startup, &info_);
    if (linked.LinkedToken) ::CloseHandle(linked.LinkedToken);
    if (!started) {
        error_ = "CreateProcessA(" + commandLine + ") failed with error " + std::to_string(::GetLastError());
        info_ = PROCESS_INFORMATION{};
        return false;
    }
    ::WaitForInputIdle(info_.hProcess, 10000);
    return true;
}

bool SetupProcess::HasExited() const noexcept {
    return !info_.hProcess || ::WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0;
}

void SetupProcess::Terminate() noexcept {
    if (info_.hProcess && !HasExited()) {
        ::TerminateProcess(info_.hProcess, 0xDEAD);
        ::WaitForSingleObject(info_.hProcess, 5000);
    }
}

bool SetupProcess::Freeze() noexcept {
    return info_.hThread && ::SuspendThread(info_.hThread) != static_cast<DWORD>(-1);
}

bool SetupProcess::Thaw() noexcept { return info_.hThread && ::ResumeThread(info_.hThread) != static_cast<DWORD>(-1); }

void SetupProcess::Record(const std::vector<WindowInfo>& windows) {
    for (const WindowInfo& window : windows) {
        // A window that went away while it was being read tells nothing.
        if (!::IsWindow(window.window)) continue;
        auto known = std::find_if(seen_.begin(), seen_.end(),
                                  [&](const WindowInfo& w) { return w.window == window.window; });
        if (known == seen_.end()) {
            seen_.push_back(window);
        } else if (known->caption.empty() && !window.caption.empty()) {
            *known = window;
        }
    }
}

std::vector<WindowInfo> SetupProcess::VisibleWindows() {
    std::vector<WindowInfo> windows;
    if (!info_.hProcess) return windows;
    EnumContext context{info_.dwProcessId, &windows};
    ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&context));
    Record(windows);
    return windows;
}

HWND SetupProcess::WaitForDialog(const std::string& caption, DWORD timeoutMs) {
    return WaitForWindow(
        [&](const WindowInfo& w) { return w.className == "#32770" && w.caption == caption && !w.messageBox; },
        timeoutMs);
}

HWND SetupProcess::WaitForWindow(const std::function<bool(const WindowInfo&)>& match, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    do {
        for (const WindowInfo& window : VisibleWindows()) {
            if (match(window)) return window.window;
        }
        if (HasExited()) return nullptr;
        ::Sleep(kPollMs);
    } while (::GetTickCount64() < end);
    return nullptr;
}

HWND SetupProcess::WaitForMessageBox(DWORD timeoutMs, HWND except) {
    return WaitForWindow([&](const WindowInfo& w) { return w.window != except && w.messageBox; }, timeoutMs);
}

bool SetupProcess::WaitForWindowGone(HWND window, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    do {
        VisibleWindows();
        if (!::IsWindow(window) || !::IsWindowVisible(window)) return true;
        ::Sleep(kPollMs);
    } while (::GetTickCount64() < end);
    return false;
}

std::optional<DWORD> SetupProcess::WaitForExit(DWORD timeoutMs) {
    if (!info_.hProcess) return std::nullopt;
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        VisibleWindows();
        if (::WaitForSingleObject(info_.hProcess, kPollMs) == WAIT_OBJECT_0) break;
        if (::GetTickCount64() >= end) return std::nullopt;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(info_.hProcess, &code)) return std::nullopt;
    return code;
}

void SetupProcess::Watch(DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    do {
        VisibleWindows();
        ::Sleep(kPollMs);
    } while (::GetTickCount64() < end && !HasExited());
}

std::vector<WindowInfo> SetupProcess::SeenExcept(const std::vector<HWND>& expected) const {
    std::vector<WindowInfo> others;
    for (const WindowInfo& window : seen_) {
        if (std::find(expected.begin(), expected.end(), window.window) == expected.end()) others.push_back(window);
    }
    return others;
}

std::vector<WindowInfo> SetupProcess::SeenMessageBoxes() const {
    std::vector<WindowInfo> boxes;
    for (const WindowInfo& window : seen_) {
        if (window.messageBox) boxes.push_back(window);
    }
    return boxes;
}

std::string Describe(const std::vector<WindowInfo>& windows) {
    std::string text;
    for (const WindowInfo& window : windows) {
        text += "\"" + window.caption + "\" [" + window.className + "]";
        if (window.messageBox) text += ": " + window.text;
        text += "\n";
    }
    return text.empty() ? "(none)" : text;
}

}  // namespace e2e
