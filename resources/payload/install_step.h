// The program's registration step, run when the setup starts it with /Install.
#pragma once

#include <windows.h>

namespace larkspan {

// True when the command line (without the program name) is the single
// argument /Install, in any letter case.
[[nodiscard]] bool IsInstallArgument(const char* commandLine) noexcept;

// Records the installation in the program's own folder: a small marker file
// "Larkspan.installed" with the product, version and the time (UTC). Touches
// nothing outside that folder. Returns the process exit code: 0 on success,
// 1 when the marker could not be written.
[[nodiscard]] int RunInstallStep() noexcept;

}  // namespace larkspan
