// The whole setup run, from the integrity check to the final report.
#pragma once

#include <windows.h>

// Runs every step in order and shows the final report. 0 when the run stopped
// at the integrity check or at the licence (no report is shown); 1 otherwise.
[[nodiscard]] int RunSetup(HINSTANCE instance) noexcept;

// Shows the one message that reports the run's outcome (none when no
// destination folder was ever chosen).
void ShowFinalReport() noexcept;
