// Position of the copy's progress bar.
#pragma once

#include <windows.h>

// `done` of `total` bytes as a percentage 0..100, truncated, computed without
// overflow. 100 when the total is 0 or exceeded (an archive whose recorded
// sizes are smaller than its data).
[[nodiscard]] unsigned ProgressPercent(DWORD done, DWORD total) noexcept;
