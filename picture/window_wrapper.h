// The least window-implementation layer the picture control needs: it takes
// over an existing window by replacing its window procedure, routes every
// message of that window to one C++ object and chains what the object does not
// handle to the procedure it replaced.
//
// The route from the shared window procedure to the object is a window
// property that holds the object's address. It is set by Attach and removed by
// Detach, by the window's WM_NCDESTROY and by the object's destruction, so a
// window never points at an object that is gone.
#pragma once

#include <windows.h>

#include <atomic>

// One message as the window procedure received it.
struct WindowMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class CSubclassWindow {
public:
    HWND m_hWnd = nullptr;  // the attached window, or null

    CSubclassWindow() noexcept = default;
    CSubclassWindow(const CSubclassWindow&) = delete;
    CSubclassWindow& operator=(const CSubclassWindow&) = delete;
    virtual ~CSubclassWindow();

    // Installs this object as the window's procedure. Fails when the window
    // refuses a new procedure, when this object is already attached, and when
    // the window already carries the procedure.
    [[nodiscard]] bool Attach(HWND window) noexcept;
    // Gives the window its earlier procedure back and returns it; null when
    // nothing is attached, when another party has replaced the procedure since
    // (unless force is set) or when the window refuses.
    [[nodiscard]] HWND Detach(bool force) noexcept;

    // The procedure that Attach installs; every attached window shares it.
    [[nodiscard]] static WNDPROC SubclassProcedure() noexcept;
    // The procedure that messages not handled here go to.
    [[nodiscard]] WNDPROC ChainedProcedure() const noexcept { return chainedProc_; }
    // The attached window as any thread may read it (m_hWnd belongs to the
    // window's thread).
    [[nodiscard]] HWND AttachedWindow() const noexcept { return attached_.load(); }
    // The message being dispatched, or null outside the window procedure.
    [[nodiscard]] const WindowMessage* CurrentMessage() const noexcept { return currentMessage_; }

protected:
    // Offers one message to the object. Returns true when handled, with the
    // message's result in result; false passes it on to the chained procedure.
    virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      DWORD mapId) noexcept = 0;
    // Called with the window's handle after the last message of a window that
    // was destroyed while attached.
    virtual void OnFinalMessage(HWND window) noexcept;

    // Passes the current message on to the chained procedure.
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    void Forget() noexcept;

    WNDPROC chainedProc_ = ::DefWindowProcA;
    const WindowMessage* currentMessage_ = nullptr;
    DWORD state_ = 0;  // bit 0: the window was destroyed while attached
    std::atomic<HWND> attached_{nullptr};
};
