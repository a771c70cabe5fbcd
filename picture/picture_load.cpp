// Loading: turns a byte stream into ready-to-draw pictures. A GIF with two or
// more frames is cut into one small stand-alone GIF per frame (header, screen
// descriptor and global colour table of the source, the frame's own blocks and
// a trailer) and each is decoded once. Anything else becomes one still picture.
#include <cstring>
#include <new>
#include <utility>

#include "picture/animated_picture_wnd.h"
#include "setup/setup_state.h"
#include "common/com_ref.h"
#include "common/scope_exit.h"
#include "common/unique_global.h"
#include "common/window_dc.h"

namespace {

constexpr DWORD kHeaderAndScreenSize = 13;
constexpr int kHimetricPerInch = 2540;
// Bounds of what the control takes on: the surface and every decoded frame
// are as large as the logical screen, and all frames are decoded before the
// first is shown. Larger streams fail to load like any undecodable one.
constexpr DWORD kLargestScreenSide = 4096;
constexpr DWORD kMostFrames = 4096;

// The signature by which the platform decoder recognises a GIF stream.
bool HasGifSignature(const BYTE* bytes, DWORD size) noexcept {
    return size >= 3 && bytes[0] == 'G' && bytes[1] == 'I' && bytes[2] == 'F';
}

// Decodes one picture from the stream over block. With deleteOnRelease the
// block is taken over and freed on every path.
[[nodiscard]] win32::ComRef<IPicture> DecodePicture(HGLOBAL block, DWORD size, bool deleteOnRelease) noexcept {
    win32::UniqueGlobal taken(deleteOnRelease ? block : nullptr);
    win32::ComRef<IStream> stream;
    if (::CreateStreamOnHGlobal(block, deleteOnRelease ? TRUE : FALSE, stream.put()) != S_OK) return {};
    static_cast<void>(taken.release());  // the stream frees the block from here on
    win32::ComRef<IPicture> decoded;
    HRESULT hr = ::OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                                  reinterpret_cast<void**>(decoded.put()));
    if (hr != S_OK) return {};
    return decoded;
}

}  // namespace

BOOL CAnimatedPictureWnd::LoadFromResource(LPCSTR name, LPCSTR type) noexcept {
    HMODULE module = g_setup.instance != nullptr ? g_setup.instance : ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, name, type);
    if (found == nullptr) return FALSE;
    // A loaded resource is part of the mapped module: nothing to free.
    HGLOBAL resource = ::LoadResource(module, found);
    if (resource == nullptr) return FALSE;
    const DWORD size = ::SizeofResource(module, found);

    win32::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size));
    if (!block) return FALSE;
    {
        win32::GlobalLockGuard target(block.get());
        const void* source = ::LockResource(resource);
        if (target.get() == nullptr || source == nullptr) return FALSE;
        std::memcpy(target.get(), source, size);
    }
    return LoadFromMemory(block.get(), size);
}

BOOL CAnimatedPictureWnd::LoadFromMemory(HGLOBAL block, DWORD size) noexcept {
    Stop();
    if (block == nullptr) return FALSE;
    // Never walk past the block, whatever size the caller passed.
    const SIZE_T blockSize = ::GlobalSize(block);
    if (blockSize < size) size = static_cast<DWORD>(blockSize);

    win32::GlobalLockGuard lock(block);
    // The walker reads the locked bytes while this load runs, and never after.
    const win32::ScopeExit endWalk([this]() noexcept { data_ = nullptr; });
    data_ = static_cast<const BYTE*>(lock.get());
    if (data_ == nullptr) return FALSE;
    dataSize_ = size;

    if (!IsGifStream(data_, dataSize_)) {
        // The decoder reads any stream that begins with "GIF" as a GIF,
        // whatever its version: such a still is checked like a GIF first.
        const bool decodable = !HasGifSignature(data_, dataSize_) || GifLikeStillIsDecodable();
        data_ = nullptr;
        lock.unlock();
        if (!decodable) return FALSE;
        return LoadStill(block, size, false);
    }

    isGif_ = true;
    DWORD screenWidth = 0;
    DWORD screenHeight = 0;
    if (!ReadScreenDescriptor(screenWidth, screenHeight)) return FALSE;
    if (screenWidth > kLargestScreenSide || screenHeight > kLargestScreenSide) return FALSE;
    pictureWidth_ = static_cast<int>(screenWidth);
    pictureHeight_ = static_cast<int>(screenHeight);

    const DWORD count = CountFrames();
    if (count == 0 || count > kMostFrames) return FALSE;
    if (count == 1) {
        // The platform decoder cannot survive an image without any colours.
        const bool decodable = FirstFrameHasColours();
        data_ = nullptr;
        lock.unlock();
        if (!decodable) return FALSE;
        return LoadStill(block, size, true);
    }

    // One place for every frame the walk counted: decoding allocates no more.
    frames_.reset(new (std::nothrow) GifFrame[count]);
    if (!frames_) return FALSE;
    frameSlots_ = count;
    return LoadFrames();
}

// Decodes the whole stream as one picture. A one-frame GIF keeps the screen
// size; any other picture gets its size from the decoder's HIMETRIC extent.
BOOL CAnimatedPictureWnd::LoadStill(HGLOBAL block, DWORD size, bool fromGif) noexcept {
    picture_ = DecodePicture(block, size, false);
    if (!picture_) return FALSE;
    if (!fromGif) {
        OLE_XSIZE_HIMETRIC himetricWidth = 0;
        OLE_YSIZE_HIMETRIC himetricHeight = 0;
        picture_->get_Width(&himetricWidth);
        picture_->get_Height(&himetricHeight);
        // Without a window the screen's resolution stands for it.
        HWND window = m_hWnd;
        win32::WindowDc dc(window);
        if (!dc) return FALSE;
        pictureWidth_ = ::MulDiv(himetricWidth, ::GetDeviceCaps(dc.get(), LOGPIXELSX), kHimetricPerInch);
        pictureHeight_ = ::MulDiv(himetricHeight, ::GetDeviceCaps(dc.get(), LOGPIXELSY), kHimetricPerInch);
    }
    return PrepareBuffer(pictureWidth_, pictureHeight_) ? TRUE : FALSE;
}

// Cuts out and decodes every frame. A frame the decoder rejects is left out.
BOOL CAnimatedPictureWnd::LoadFrames() noexcept {
    RewindToFirstBlock();
    for (;;) {
        DWORD streamSize = 0;
        FrameValues values{};
        win32::UniqueGlobal frameStream = ExtractFrame(streamSize, values);
        if (!frameStream) break;
        // Left out like a frame the decoder rejects, without asking the
        // decoder, which cannot survive an image without any colours.
        if (!HasColourTable(values)) continue;
        win32::ComRef<IPicture> decoded = DecodePicture(frameStream.release(), streamSize, true);
        if (!decoded) continue;
        frames_[frameCount_++] = GifFrame{std::move(decoded), values.width, values.height,  values.left,
                                          values.top,         values.delay, values.disposal};
        // The extraction walks as the count did, so it finds no more frames.
        if (frameCount_ == frameSlots_) break;
    }
    if (frameCount_ == 0) return FALSE;
    return PrepareBuffer(pictureWidth_, pictureHeight_) ? TRUE : FALSE;
}

bool CAnimatedPictureWnd::HasColourTable(const FrameValues& values) const noexcept {
    return globalTableSize_ != 0 || values.localTable;
}

bool CAnimatedPictureWnd::FirstFrameHasColours() noexcept {
    RewindToFirstBlock();
    FrameValues first{};
    return WalkFrame(first) && HasColourTable(first);
}

bool CAnimatedPictureWnd::GifLikeStillIsDecodable() noexcept {
    DWORD width = 0;
    DWORD height = 0;
    if (!ReadScreenDescriptor(width, height)) return false;
    if (width > kLargestScreenSide || height > kLargestScreenSide) return false;
    return FirstFrameHasColours();
}

// The next frame's stand-alone stream in a fixed block, or null at the end.
win32::UniqueGlobal CAnimatedPictureWnd::ExtractFrame(DWORD& streamSize, FrameValues& values) noexcept {
    if (data_ == nullptr) return {};
    if (!WalkFrame(values)) return {};
    const DWORD head = kHeaderAndScreenSize + globalTableSize_;
    const unsigned long long total = 1ull + head + values.extent;
    if (total > 0xFFFFFFFFull) return {};
    win32::UniqueGlobal block(::GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(total)));
    if (!block) return {};
    BYTE* out = static_cast<BYTE*>(block.get());  // a fixed block's handle is its address
    std::memcpy(out, data_, head);
    std::memcpy(out + head, data_ + values.offset, values.extent);
    out[head + values.extent] = kGifTrailer;
    streamSize = static_cast<DWORD>(total);
    return block;
}
