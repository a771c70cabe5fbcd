#include "picture/window_wrapper.h"

namespace {

// The window property that leads from an attached window to its object.
constexpr char kObjectProperty[] = "Larkspan.SubclassWindow";

constexpr DWORD kStateDestroyed = 1;

}  // namespace

CSubclassWindow::~CSubclassWindow() {
    // Never leave a window whose procedure leads to an object that is gone.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        if (Detach(false) == nullptr) {
            // Someone else's procedure sits on top of ours and may still chain
            // to it: keep the route harmless by leaving the window to the
            // default procedure from here on.
            ::RemovePropA(m_hWnd, kObjectProperty);
        }
    }
}

WNDPROC CSubclassWindow::SubclassProcedure() noexcept { return &CSubclassWindow::WindowProc; }

bool CSubclassWindow::Attach(HWND window) noexcept {
    if (window == nullptr) return false;
    // One window per object, one object per window: attaching again would
    // chain the procedure to itself (every message would loop for ever) or
    // leave the first window leading to an object that no longer knows it.
    if (m_hWnd != nullptr || ::GetPropA(window, kObjectProperty) != nullptr) return false;
    const LONG_PTR installed = ::GetWindowLongPtrA(window, GWLP_WNDPROC);
    if (installed == reinterpret_cast<LONG_PTR>(&CSubclassWindow::WindowProc)) return false;
    if (!::SetPropA(window, kObjectProperty, static_cast<HANDLE>(this))) return false;
    LONG_PTR previous = ::SetWindowLongPtrA(window, GWLP_WNDPROC,
                                            reinterpret_cast<LONG_PTR>(&CSubclassWindow::WindowProc));
    if (previous == 0) {
        ::RemovePropA(window, kObjectProperty);
        return false;
    }
    chainedProc_ = reinterpret_cast<WNDPROC>(previous);
    m_hWnd = window;
    attached_.store(window);
    return true;
}

HWND CSubclassWindow::Detach(bool force) noexcept {
    HWND window = m_hWnd;
    if (window == nullptr) return nullptr;
    WNDPROC current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(window, GWLP_WNDPROC));
    if (!force && current != &CSubclassWindow::WindowProc) return nullptr;
    if (::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(chainedProc_)) == 0) return nullptr;
    ::RemovePropA(window, kObjectProperty);
    chainedProc_ = ::DefWindowProcA;
    m_hWnd = nullptr;
    attached_.store(nullptr);
    return window;
}

void CSubclassWindow::OnFinalMessage(HWND) noexcept {}

LRESULT CSubclassWindow::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return ::CallWindowProcA(chainedProc_, m_hWnd, message, wParam, lParam);
}

void CSubclassWindow::Forget() noexcept {
    m_hWnd = nullptr;
    attached_.store(nullptr);
}

LRESULT CALLBACK CSubclassWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CSubclassWindow*>(::GetPropA(window, kObjectProperty));
    if (self == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
    return self->Dispatch(window, message, wParam, lParam);
}

LRESULT CSubclassWindow::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    const WindowMessage record{window, message, wParam, lParam};
    const WindowMessage* previous = currentMessage_;
    currentMessage_ = &record;

    LRESULT result = 0;
    bool handled = ProcessWindowMessage(window, message, wParam, lParam, result, 0);
    if (!handled) {
        if (message != WM_NCDESTROY) {
            result = ::CallWindowProcA(chainedProc_, window, message, wParam, lParam);
        } else {
            // The window's last message: hand the window back to the procedure
            // we replaced unless someone has put another procedure on top.
            LONG_PTR noted = ::GetWindowLongPtrA(window, GWLP_WNDPROC);
            result = ::CallWindowProcA(chainedProc_, window, message, wParam, lParam);
            if (chainedProc_ != ::DefWindowProcA && ::GetWindowLongPtrA(window, GWLP_WNDPROC) == noted) {
                ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(chainedProc_));
            }
            ::RemovePropA(window, kObjectProperty);
            state_ |= kStateDestroyed;
        }
    }

    if ((state_ & kStateDestroyed) != 0 && previous == nullptr) {
        state_ &= ~kStateDestroyed;
        HWND destroyed = m_hWnd;
        Forget();
        chainedProc_ = ::DefWindowProcA;
        currentMessage_ = nullptr;
        OnFinalMessage(destroyed);
    } else {
        currentMessage_ = previous;
    }
    return result;
}
