// larkspan-picture: shows makers what the setup's picture control makes of a
// picture file.
//   larkspan-picture info FILE             load result, kind, size and frames
//   larkspan-picture render FILE INDEX OUT.bmp
//                                          the control's surface once frame
//                                          INDEX has been drawn, as a 24-bit BMP
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "picture/animated_picture_wnd.h"
#include "common/selection_restorer.h"
#include "common/unique_gdi.h"
#include "common/unique_global.h"
#include "common/unique_handle.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: larkspan-picture info FILE\n"
                 "       larkspan-picture render FILE INDEX OUT.bmp\n");
}

// Reads a whole file into a movable global block, as the setup holds its
// resources before loading them.
[[nodiscard]] win32::UniqueGlobal ReadFileToGlobal(const char* path, DWORD& size) noexcept {
    win32::UniqueFile file(
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart > 0x7FFFFFFF) return {};
    size = static_cast<DWORD>(length.QuadPart);
    win32::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size == 0 ? 1 : size));
    if (!block) return {};
    win32::GlobalLockGuard lock(block.get());
    if (lock.get() == nullptr) return {};
    DWORD read = 0;
    if (size != 0 && (!::ReadFile(file.get(), lock.get(), size, &read, nullptr) || read != size)) return {};
    return block;
}

[[nodiscard]] bool LoadFile(CAnimatedPictureWnd& control, const char* path) noexcept {
    DWORD size = 0;
    win32::UniqueGlobal block = ReadFileToGlobal(path, size);
    if (!block) {
        std::fprintf(stderr, "larkspan-picture: cannot read %s\n", path);
        return false;
    }
    return control.LoadFromMemory(block.get(), size) != FALSE;
}

int RunInfo(const char* path) {
    CAnimatedPictureWnd control;
    DWORD size = 0;
    win32::UniqueGlobal block = ReadFileToGlobal(path, size);
    if (!block) {
        std::fprintf(stderr, "larkspan-picture: cannot read %s\n", path);
        return kExitFailed;
    }
    const BOOL loaded = control.LoadFromMemory(block.get(), size);
    DWORD walked = 0;
    {
        win32::GlobalLockGuard lock(block.get());
        if (lock.get() != nullptr) {
            walked = control.InspectGifStream(static_cast<const BYTE*>(lock.get()), size).frameCount;
        }
    }
    std::printf("load: %s\n", loaded ? "ok" : "failed");
    std::printf("gif: %s\n", control.IsGif() ? "yes" : "no");
    std::printf("size: %d x %d\n", control.PictureWidth(), control.PictureHeight());
    std::printf("still: %s\n", control.HasStill() ? "yes" : "no");
    std::printf("frames walked: %lu\n", static_cast<unsigned long>(walked));
    std::printf("frames: %lu\n", static_cast<unsigned long>(control.FrameCount()));
    std::printf("index width height left top delay disposal\n");
    for (DWORD i = 0; i < control.FrameCount(); ++i) {
        const GifFrame& frame = control.Frame(i);
        std::printf("%lu %lu %lu %lu %lu %lu %ld\n", static_cast<unsigned long>(i),
                    static_cast<unsigned long>(frame.width), static_cast<unsigned long>(frame.height),
                    static_cast<unsigned long>(frame.left), static_cast<unsigned long>(frame.top),
                    static_cast<unsigned long>(frame.delay), static_cast<long>(frame.disposal));
    }
    return loaded ? kExitOk : kExitFailed;
}

// Writes the surface of dc (width x height) as a bottom-up 24-bit BMP.
[[nodiscard]] bool WriteBmp(HDC surface, int width, int height, const char* path) noexcept {
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win32::UniqueBitmap dib(::CreateDIBSection(surface, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    win32::UniqueMemoryDc dc(::CreateCompatibleDC(surface));
    if (!dib || !dc || bits == nullptr) return false;
    {
        win32::SelectionRestorer selected = win32::SelectObject(dc.get(), dib.get());
        if (!::BitBlt(dc.get(), 0, 0, width, height, surface, 0, 0, SRCCOPY)) return false;
        ::GdiFlush();
    }
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;

    win32::UniqueFile out(
        ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(out.get(), &file, sizeof file, &written, nullptr) && written == sizeof file;
    ok = ok && ::WriteFile(out.get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
         written == sizeof info.bmiHeader;
    ok = ok && ::WriteFile(out.get(), bits, imageSize, &written, nullptr) && written == imageSize;
    return ok;
}

int RunRender(const char* path, const char* indexText, const char* outPath) {
    char* end = nullptr;
    const unsigned long index = std::strtoul(indexText, &end, 10);
    if (end == indexText || *end != '\0') {
        PrintUsage();
        return kExitUsage;
    }
    CAnimatedPictureWnd control;
    if (!LoadFile(control, path)) {
        std::fprintf(stderr, "larkspan-picture: %s does not load\n", path);
        return kExitFailed;
    }
    const DWORD last = control.HasAnimation() ? control.FrameCount() - 1 : 0;
    if (index > last || !control.DrawFramesThrough(static_cast<DWORD>(index))) {
        std::fprintf(stderr, "larkspan-picture: no frame %lu in %s\n", index, path);
        return kExitFailed;
    }
    if (!WriteBmp(control.SurfaceDc(), control.PictureWidth(), control.PictureHeight(), outPath)) {
        std::fprintf(stderr, "larkspan-picture: cannot write %s\n", outPath);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "info") == 0) return RunInfo(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "render") == 0) return RunRender(argv[2], argv[3], argv[4]);
    PrintUsage();
    return kExitUsage;
}
