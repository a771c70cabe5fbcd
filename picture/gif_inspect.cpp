// The walker's view of a stream, frame by frame, for the makers' tool and the
// tests. It lives in a library of its own, away from the control's loading:
// it collects what it finds in growing containers, which the setup itself has
// no use for.
#include <new>

#include "picture/animated_picture_wnd.h"
#include "common/unique_global.h"

GifStreamLayout CAnimatedPictureWnd::InspectGifStream(const BYTE* bytes, DWORD size) noexcept {
    GifStreamLayout layout;
    if (data_ != nullptr || !IsGifStream(bytes, size)) return layout;
    layout.isGif = true;
    const DWORD savedTable = globalTableSize_;
    const DWORD savedPosition = position_;
    data_ = bytes;
    dataSize_ = size;
    DWORD width = 0;
    DWORD height = 0;
    if (ReadScreenDescriptor(width, height)) {
        layout.screenWidth = width;
        layout.screenHeight = height;
        layout.globalTableSize = globalTableSize_;
        layout.frameCount = CountFrames();
        RewindToFirstBlock();
        try {
            for (;;) {
                DWORD streamSize = 0;
                FrameValues values{};
                const win32::UniqueGlobal frameStream = ExtractFrame(streamSize, values);
                if (!frameStream) break;
                const BYTE* bytesOut = static_cast<const BYTE*>(frameStream.get());
                layout.frames.push_back(GifFrameLayout{
                    values.offset, values.extent, streamSize, values.width, values.height, values.left, values.top,
                    values.delay, values.disposal, std::vector<BYTE>(bytesOut, bytesOut + streamSize)});
            }
        } catch (const std::bad_alloc&) {
        }
    }
    data_ = nullptr;
    dataSize_ = 0;
    globalTableSize_ = savedTable;
    position_ = savedPosition;
    return layout;
}
