// A bitmap selected into its own memory DC. Members are destroyed in reverse
// order: first the selection is undone, then the DC is deleted, then the
// bitmap, which by then is selected nowhere.
#pragma once

#include <windows.h>

#include "common/selection_restorer.h"
#include "common/unique_gdi.h"

namespace win32 {

struct MemorySurface {
    UniqueBitmap bitmap;
    UniqueMemoryDc dc;
    SelectionRestorer selection;

    // Creates a width x height bitmap compatible with `like` and selects it;
    // false leaves the surface empty.
    [[nodiscard]] bool create(HDC like, int width, int height) noexcept {
        reset();
        bitmap.reset(::CreateCompatibleBitmap(like, width, height));
        dc.reset(::CreateCompatibleDC(like));
        if (!bitmap || !dc) {
            reset();
            return false;
        }
        selection = win32::SelectObject(dc.get(), bitmap.get());
        return true;
    }
    void reset() noexcept {
        selection.restore();
        dc.reset();
        bitmap.reset();
    }
    explicit operator bool() const noexcept { return bitmap && dc; }
};

}  // namespace win32
