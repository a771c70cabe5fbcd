// The program's window when started normally: the product's name and version
// and a Close button.
#pragma once

#include <windows.h>

namespace larkspan {

// Shows the window and runs its message loop until it is closed; returns the
// process exit code (0, or 1 when the window could not be created).
[[nodiscard]] int RunMainWindow(HINSTANCE instance, int showCommand) noexcept;

}  // namespace larkspan
