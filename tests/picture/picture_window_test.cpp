// The control attached to a static control in a window: which messages it
// answers, what reaches the static control, detaching, the window's own
// destruction, what shows on screen, and no leaks over many cycles.
#include <gtest/gtest.h>

#include <vector>

#include "tests/picture/picture_test_support.h"

namespace {

using namespace picture_test;

constexpr UINT kPing = WM_APP + 7;       // answered by the spy with kPong
constexpr UINT kDestroyMe = WM_APP + 9;  // the spy destroys the window from inside
constexpr LRESULT kPong = 0x1234;
constexpr LRESULT kErased = 0x5A5A;

// The static control's procedure with a recorder in front: it stands for
// "the static control" behind the picture control.
WNDPROC g_staticProc = nullptr;
std::vector<UINT> g_seen;
LRESULT CALLBACK SpyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back(message);
    if (message == kPing) return kPong;
    if (message == kDestroyMe) {
        ::DestroyWindow(window);
        return kPong;
    }
    LRESULT result = ::CallWindowProcA(g_staticProc, window, message, wParam, lParam);
    return message == WM_ERASEBKGND ? kErased : result;
}

// Another party's procedure, installed over the picture control's.
WNDPROC g_outerNext = nullptr;
LONG_PTR g_procAfterNcDestroy = 0;
LRESULT CALLBACK OuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = ::CallWindowProcA(g_outerNext, window, message, wParam, lParam);
    if (message == WM_NCDESTROY) g_procAfterNcDestroy = ::GetWindowLongPtrA(window, GWLP_WNDPROC);
    return result;
}

bool Seen(UINT message) {
    for (UINT m : g_seen) {
        if (m == message) return true;
    }
    return false;
}

void PumpMessages(DWORD milliseconds) {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(5);
    } while (::GetTickCount64() < end);
}

Bytes RedBlueAnimation(int delay) {
    GifBuilder gif(24, 16, Palette());
    gif.GraphicControl(0, delay).SolidImage(0, 0, 24, 16, 0);
    gif.GraphicControl(0, delay).SolidImage(0, 0, 24, 16, 1);
    gif.Trailer();
    return gif.bytes();
}

// Every open kernel handle of the process, found by asking about each
// possible handle value (the platform's own count is not always kept).
DWORD CountOpenHandles() {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

class AttachedControl : public ::testing::Test {
protected:
    // One top-level window for the whole suite: making top-level windows is slow.
    static void SetUpTestSuite() {
        parent_ = ::CreateWindowExA(0, "STATIC", "picture test", WS_OVERLAPPED | WS_VISIBLE, 40, 40, 240, 180, nullptr,
                                    nullptr, ::GetModuleHandleA(nullptr), nullptr);
    }
    static void TearDownTestSuite() {
        if (parent_ != nullptr) ::DestroyWindow(parent_);
        parent_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(parent_, nullptr);
        child_ = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 10, 10, 98, 68, parent_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(507)), ::GetModuleHandleA(nullptr),
                                   nullptr);
        ASSERT_NE(child_, nullptr);
        g_staticProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(child_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SpyProc)));
        ASSERT_NE(g_staticProc, nullptr);
        PumpMessages(50);
        g_seen.clear();
        g_procAfterNcDestroy = 0;
    }
    void TearDown() override {
        control_.Stop();
        static_cast<void>(control_.Detach(true));
        if (child_ != nullptr && ::IsWindow(child_)) ::DestroyWindow(child_);
        PumpMessages(20);
    }

    COLORREF WindowPixel(int x, int y) {
        HDC dc = ::GetDC(child_);
        COLORREF color = ::GetPixel(dc, x, y);
        ::ReleaseDC(child_, dc);
        return color;
    }

    CAnimatedPictureWnd control_;
    static HWND parent_;
    HWND child_ = nullptr;
};

HWND AttachedControl::parent_ = nullptr;

TEST_F(AttachedControl, PaintAndDestroyAreAnsweredEverythingElseReachesTheStatic) {
    ASSERT_TRUE(control_.Attach(child_));
    EXPECT_EQ(control_.m_hWnd, child_);
    EXPECT_EQ(control_.ChainedProcedure(), &SpyProc);
    EXPECT_EQ(::GetWindowLongPtrA(child_, GWLP_WNDPROC),
              reinterpret_cast<LONG_PTR>(CAnimatedPictureWnd::SubclassProcedure()));

    EXPECT_EQ(::SendMessageA(child_, kPing, 1, 2), kPong);
    HDC dc = ::GetDC(child_);
    EXPECT_EQ(::SendMessageA(child_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), kErased);
    ::ReleaseDC(child_, dc);
    EXPECT_TRUE(Seen(kPing));
    EXPECT_TRUE(Seen(WM_ERASEBKGND));
    // The static's own answer, passed back unchanged.
    const LPARAM point = MAKELPARAM(60, 60);
    const LRESULT hit = ::CallWindowProcA(g_staticProc, child_, WM_NCHITTEST, 0, point);
    EXPECT_EQ(::SendMessageA(child_, WM_NCHITTEST, 0, point), hit);
    EXPECT_EQ(hit, HTTRANSPARENT);

    g_seen.clear();
    ::InvalidateRect(child_, nullptr, TRUE);
    ::UpdateWindow(child_);
    EXPECT_EQ(::SendMessageA(child_, WM_PAINT, 0, 0), 0);
    EXPECT_FALSE(Seen(WM_PAINT));
    EXPECT_FALSE(::GetUpdateRect(child_, nullptr, FALSE));

    ASSERT_TRUE(::DestroyWindow(child_));
    EXPECT_FALSE(Seen(WM_DESTROY));
    EXPECT_TRUE(Seen(WM_NCDESTROY));
    EXPECT_EQ(control_.m_hWnd, nullptr);
    EXPECT_EQ(control_.CurrentMessage(), nullptr);
}

TEST_F(AttachedControl, LoadSizesTheWindowAndPaintShowsOnlyTheSurface) {
    ASSERT_TRUE(control_.Attach(child_));
    GifBuilder gif(30, 20, Palette());
    gif.SolidImage(0, 0, 30, 20, 0).Trailer();  // a still
    ASSERT_NE(LoadBytes(control_, gif.bytes()), FALSE);
    RECT client{};
    ::GetClientRect(child_, &client);
    EXPECT_EQ(client.right, 30);
    EXPECT_EQ(client.bottom, 20);
    RECT window{};
    ::GetWindowRect(child_, &window);
    POINT topLeft{window.left, window.top};
    ::ScreenToClient(parent_, &topLeft);
    EXPECT_EQ(topLeft.x, 10);  // the corner stays where it was
    EXPECT_EQ(topLeft.y, 10);

    control_.Play();
    ::UpdateWindow(child_);
    PumpMessages(50);
    // The static's black frame would show along the edges.
    for (POINT p : {POINT{0, 0}, POINT{29, 0}, POINT{0, 19}, POINT{29, 19}, POINT{15, 10}}) {
        EXPECT_EQ(WindowPixel(p.x, p.y), kRed) << p.x << "," << p.y;
    }
}

TEST_F(AttachedControl, AnimationPlaysOnTheStaticControl) {
    ASSERT_TRUE(control_.Attach(child_));
    ASSERT_NE(LoadBytes(control_, RedBlueAnimation(1)), FALSE);
    control_.Play();
    bool sawRed = false;
    bool sawBlue = false;
    for (int i = 0; i < 200 && !(sawRed && sawBlue); ++i) {
        PumpMessages(20);
        COLORREF color = WindowPixel(12, 8);
        sawRed = sawRed || color == kRed;
        sawBlue = sawBlue || color == kBlue;
    }
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawBlue);
    EXPECT_FALSE(Seen(WM_PAINT));
    control_.Stop();
    EXPECT_EQ(control_.Detach(false), child_);
}

TEST_F(AttachedControl, ShippedAnimationPlaysAndPaintCopiesTheSurface) {
    ASSERT_TRUE(control_.Attach(child_));
    ASSERT_NE(control_.LoadFromResource(MAKEINTRESOURCEA(506), "GIF"), FALSE);
    RECT client{};
    ::GetClientRect(child_, &client);
    EXPECT_EQ(client.right, 64);
    EXPECT_EQ(client.bottom, 64);
    control_.Play();
    for (int i = 0; i < 500 && control_.FramesDrawn() < 3; ++i) PumpMessages(10);
    ASSERT_GE(control_.FramesDrawn(), 3u);
    control_.StopThread();
    ::InvalidateRect(child_, nullptr, FALSE);
    ::UpdateWindow(child_);
    int differing = 0;
    for (int y = 0; y < 64; y += 7) {
        for (int x = 0; x < 64; x += 7) {
            if (WindowPixel(x, y) != control_.SurfacePixel(x, y)) ++differing;
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_FALSE(Seen(WM_PAINT));
}

TEST_F(AttachedControl, ASecondAttachIsRefused) {
    ASSERT_TRUE(control_.Attach(child_));
    CAnimatedPictureWnd other;
    EXPECT_FALSE(control_.Attach(child_));
    EXPECT_FALSE(other.Attach(child_));
    EXPECT_FALSE(control_.Attach(parent_)) << "one window per control";
    EXPECT_EQ(control_.ChainedProcedure(), &SpyProc);
    EXPECT_EQ(::SendMessageA(child_, kPing, 0, 0), kPong) << "the chain ends at the static control";
    EXPECT_EQ(control_.Detach(false), child_);
    EXPECT_EQ(::GetWindowLongPtrA(child_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&SpyProc));

    // A control that ends while attached hands the window back as it found it.
    {
        CAnimatedPictureWnd shortLived;
        ASSERT_TRUE(shortLived.Attach(child_));
    }
    EXPECT_EQ(::GetWindowLongPtrA(child_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&SpyProc));
    EXPECT_TRUE(other.Attach(child_)) << "the window is free again";
    EXPECT_EQ(other.Detach(false), child_);
}

TEST_F(AttachedControl, DetachRefusesAfterAnotherPartyReplacedTheProcedure) {
    ASSERT_TRUE(control_.Attach(child_));
    g_outerNext = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(child_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OuterProc)));
    EXPECT_EQ(g_outerNext, CAnimatedPictureWnd::SubclassProcedure());

    EXPECT_EQ(control_.Detach(false), nullptr);
    EXPECT_EQ(control_.m_hWnd, child_);
    EXPECT_EQ(::GetWindowLongPtrA(child_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&OuterProc));
    EXPECT_EQ(::SendMessageA(child_, kPing, 0, 0), kPong);  // the chain still works

    ::SetWindowLongPtrA(child_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_outerNext));
    EXPECT_EQ(control_.Detach(false), child_);
    EXPECT_EQ(control_.m_hWnd, nullptr);
    EXPECT_EQ(control_.ChainedProcedure(), ::DefWindowProcA);
    EXPECT_EQ(::GetWindowLongPtrA(child_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&SpyProc));
    EXPECT_EQ(control_.Detach(false), nullptr);

    // Detached: paints go to the static again.
    g_seen.clear();
    ::InvalidateRect(child_, nullptr, TRUE);
    ::UpdateWindow(child_);
    EXPECT_TRUE(Seen(WM_PAINT));
}

TEST_F(AttachedControl, DestroyingTheWindowWithoutDetachStopsRestoresAndForgets) {
    ASSERT_TRUE(control_.Attach(child_));
    ASSERT_NE(LoadBytes(control_, RedBlueAnimation(10)), FALSE);
    control_.Play();
    ASSERT_TRUE(control_.IsThreadRunning());
    g_outerNext = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(child_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OuterProc)));

    ASSERT_TRUE(::DestroyWindow(child_));
    EXPECT_FALSE(control_.IsThreadRunning());
    EXPECT_FALSE(Seen(WM_DESTROY));
    EXPECT_TRUE(Seen(WM_NCDESTROY));
    // The control's procedure was the one running when the last message came,
    // so it put the static's procedure back.
    EXPECT_EQ(g_procAfterNcDestroy, reinterpret_cast<LONG_PTR>(&SpyProc));
    EXPECT_EQ(control_.m_hWnd, nullptr);
    EXPECT_EQ(control_.ChainedProcedure(), ::DefWindowProcA);

    EXPECT_EQ(control_.FrameCount(), 2u);
    HDC surface = control_.SurfaceDc();
    HGDIOBJ bitmap = ::GetCurrentObject(surface, OBJ_BITMAP);
    control_.Stop();
    EXPECT_EQ(control_.FrameCount(), 0u);
    EXPECT_EQ(control_.SurfaceDc(), nullptr);
    EXPECT_EQ(::GetObjectType(surface), 0u);
    EXPECT_EQ(::GetObjectType(bitmap), 0u);
}

TEST_F(AttachedControl, WindowDestroyedInsideANestedMessageIsForgottenOnTheWayOut) {
    ASSERT_TRUE(control_.Attach(child_));
    EXPECT_EQ(::SendMessageA(child_, kDestroyMe, 0, 0), kPong);
    EXPECT_FALSE(::IsWindow(child_));
    EXPECT_TRUE(Seen(WM_NCDESTROY));
    EXPECT_EQ(control_.m_hWnd, nullptr);
    EXPECT_EQ(control_.CurrentMessage(), nullptr);
    // The object is free for another window.
    HWND other = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent_, nullptr,
                                   ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(control_.Attach(other));
    EXPECT_EQ(control_.Detach(false), other);
    ::DestroyWindow(other);
}

TEST_F(AttachedControl, HundredLoadPlayStopCyclesLeakNothing) {
    ASSERT_TRUE(control_.Attach(child_));
    const Bytes animation = RedBlueAnimation(1);
    auto cycle = [&](bool check) {
        ASSERT_NE(LoadBytes(control_, animation), FALSE);
        control_.Play();
        PumpMessages(5);
        HDC surface = control_.SurfaceDc();
        HGDIOBJ bitmap = ::GetCurrentObject(surface, OBJ_BITMAP);
        IPicture* picture = control_.Frame(0).picture.get();
        picture->AddRef();
        EXPECT_EQ(picture->Release(), 1u);  // the control holds exactly one reference
        control_.Stop();
        if (check) {
            EXPECT_EQ(::GetObjectType(surface), 0u);
            EXPECT_EQ(::GetObjectType(bitmap), 0u);
        }
    };
    cycle(false);  // the platform's first-use allocations
    PumpMessages(50);
    const DWORD openBefore = CountOpenHandles();
    {
        win32::UniqueHandle probe(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ASSERT_EQ(CountOpenHandles(), openBefore + 1);  // the count sees one more handle
    }
    DWORD handlesBefore = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore));
    for (int i = 0; i < 100; ++i) {
        cycle(i % 10 == 0);
        if (HasFatalFailure()) return;
    }
    PumpMessages(50);
    DWORD handlesAfter = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter));
    EXPECT_EQ(handlesAfter, handlesBefore);
    EXPECT_EQ(CountOpenHandles(), openBefore);
    EXPECT_GT(openBefore, 0u);
}

}  // namespace
