#include "app/main_window.h"

#include "app/product_info.h"
#include "common/selection_restorer.h"
#include "common/window_dc.h"
#include "common/unique_gdi.h"

namespace larkspan {
namespace {

constexpr char kClassName[] = LARKSPAN_APP_WINDOW_CLASS;
constexpr int kCloseButtonId = IDOK;
constexpr int kClientWidth = 360;
constexpr int kClientHeight = 170;

struct WindowFonts {
    win32::UniqueFont title;
    win32::UniqueFont body;
};

WindowFonts* FontsOf(HWND window) noexcept {
    return reinterpret_cast<WindowFonts*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
}

HFONT MakeFont(int height, int weight) noexcept {
    return ::CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, "Segoe UI");
}

LRESULT OnCreate(HWND window, const CREATESTRUCTA* create) noexcept {
    auto* fonts = static_cast<WindowFonts*>(create->lpCreateParams);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fonts));
    fonts->title.reset(MakeFont(26, FW_BOLD));
    fonts->body.reset(MakeFont(15, FW_NORMAL));
    HWND button = ::CreateWindowExA(0, "BUTTON", "Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                                    kClientWidth - 100, kClientHeight - 40, 88, 28, window,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCloseButtonId)), create->hInstance,
                                    nullptr);
    if (button == nullptr) return -1;
    ::SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->body.get()), FALSE);
    return 0;
}

void OnPaint(HWND window) noexcept {
    const win32::PaintDc paint(window);
    if (!paint) return;
    HDC dc = paint.get();
    RECT client;
    ::GetClientRect(window, &client);
    // A violet band on the left, the product's colour.
    RECT band = {0, 0, 12, client.bottom};
    win32::UniqueBrush bandBrush(::CreateSolidBrush(RGB(82, 58, 168)));
    if (bandBrush) ::FillRect(dc, &band, bandBrush.get());

    WindowFonts* fonts = FontsOf(window);
    ::SetBkMode(dc, TRANSPARENT);
    RECT text = {32, 24, client.right - 16, 64};
    {
        auto restore = win32::SelectObject(dc, fonts ? fonts->title.get() : nullptr);
        ::SetTextColor(dc, RGB(52, 30, 118));
        ::DrawTextA(dc, LARKSPAN_APP_TITLE, -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    }
    auto restore = win32::SelectObject(dc, fonts ? fonts->body.get() : nullptr);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    text = {32, 66, client.right - 16, 90};
    ::DrawTextA(dc, "Version " LARKSPAN_APP_VERSION, -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    text = {32, 92, client.right - 16, 116};
    ::DrawTextA(dc, "\xA9 " LARKSPAN_APP_COMPANY ". All rights reserved.", -1, &text,
                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
}

void OnCommand(HWND window, int id) noexcept {
    if (id == kCloseButtonId || id == IDCANCEL) ::DestroyWindow(window);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam));
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int RunMainWindow(HINSTANCE instance, int showCommand) noexcept {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(LARKSPAN_APP_ICON));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExA(&windowClass) == 0) return 1;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    WindowFonts fonts;
    HWND window = ::CreateWindowExA(0, kClassName, LARKSPAN_APP_TITLE " " LARKSPAN_APP_VERSION, style, CW_USEDEFAULT,
                                    CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                    instance, &fonts);
    if (window == nullptr) return 1;
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);

    MSG message;
    int result;
    while ((result = ::GetMessageA(&message, nullptr, 0, 0)) > 0) {
        if (::IsDialogMessageA(window, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return result < 0 ? 1 : 0;
}

}  // namespace larkspan
