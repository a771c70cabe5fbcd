// Starting the installed program once, in its registration mode.
#pragma once

// Starts the first copied item as `"path" /Install` in the destination folder
// and waits up to 20 seconds for it to end (a program still running then is
// left running). Returns installOk afterwards: false when the program could
// not be started or did not end in time (recorded in g_setup).
[[nodiscard]] bool LaunchInstalledProgram() noexcept;
