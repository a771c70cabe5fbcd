// The control's lifetime, and the program's one instance of it: constructed
// during static initialisation, destroyed at process exit.
#include "picture/animated_picture_wnd.h"

CAnimatedPictureWnd::CAnimatedPictureWnd() noexcept {
    // Manual reset: a stop that comes before the thread reaches its wait still
    // ends that wait at once.
    stopEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

CAnimatedPictureWnd::~CAnimatedPictureWnd() {
    Stop();
    stopEvent_.reset();
}

CAnimatedPictureWnd g_pictureControl;
