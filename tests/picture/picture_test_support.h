// Shared helpers of the picture control's tests: test pictures in memory,
// loading them the way the setup does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "picture/animated_picture_wnd.h"
#include "common/unique_global.h"
#include "common/unique_handle.h"
#include "tests/picture/gif_builder.h"
#include "tests/support/memory.h"

namespace picture_test {

// The walker reads streams from guarded memory: one byte read too far crashes the test.
using support::GuardedBlock;

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// Colour index 0 red, 1 blue, 2 green, 3 white.
inline std::vector<Rgb> Palette() { return {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 255, 255}}; }

// A movable global block holding bytes, as the setup holds a resource.
inline win32::UniqueGlobal MakeBlock(const Bytes& bytes) {
    win32::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, bytes.empty() ? 1 : bytes.size()));
    if (block) {
        win32::GlobalLockGuard lock(block.get());
        if (!bytes.empty()) std::memcpy(lock.get(), bytes.data(), bytes.size());
    }
    return block;
}

inline BOOL LoadBytes(CAnimatedPictureWnd& control, const Bytes& bytes) {
    win32::UniqueGlobal block = MakeBlock(bytes);
    return control.LoadFromMemory(block.get(), static_cast<DWORD>(bytes.size()));
}

// A bottom-up 24-bit BMP file of one colour.
inline Bytes MakeBmp(int width, int height, COLORREF color) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + imageSize;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageSize;
    Bytes out(file.bfSize, 0);
    std::memcpy(out.data(), &file, sizeof file);
    std::memcpy(out.data() + sizeof file, &info, sizeof info);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = out.data() + file.bfOffBits + static_cast<std::uint32_t>(y) * stride + x * 3;
            pixel[0] = GetBValue(color);
            pixel[1] = GetGValue(color);
            pixel[2] = GetRValue(color);
        }
    }
    return out;
}

// The bytes of a resource of this test program (empty when it is missing).
inline Bytes ResourceBytes(LPCSTR name, LPCSTR type) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = ::LoadResource(module, found);
    const BYTE* bytes = static_cast<const BYTE*>(::LockResource(loaded));
    if (bytes == nullptr) return {};
    return Bytes(bytes, bytes + ::SizeofResource(module, found));
}

// An image block whose LZW minimum code size (13) no decoder accepts, while
// its block structure is sound: the walker takes it, the decoder rejects it.
inline GifBuilder& UndecodableImage(GifBuilder& gif, int left, int top, int width, int height) {
    return gif.RawImage(left, top, width, height, 0, 13, Bytes{2, 0xAA, 0xBB, 0});
}

}  // namespace picture_test
