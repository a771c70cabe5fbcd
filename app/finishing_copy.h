// The finishing copy: a running program's file cannot be deleted, so a copy of
// the program, started from a new folder of its own in the temporary folder,
// waits for the removal's process to end and then removes the program file
// and the installation folder when that is left empty. The copy's name cannot
// be guessed beforehand (random bytes from the system's generator), its folder
// and file are made anew (never an existing one or a link planted there) and
// are held without write sharing from their check until the start, and when
// the copy ends nothing of it stays: its file is open for deletion on close,
// and its last step moves that file out of its folder and removes the folder.
#pragma once

#include <windows.h>

namespace larkspan {

// Held by a removal and its finishing copy: a second removal started
// meanwhile (a double click) ends at once instead of finding half of it gone.
constexpr char kRemovalMutex[] = "Orvane Larkspan removal";

// Starts the copy. `program` is the program file, opened for reading and
// deletion and found unchanged; `folder` the held installation folder. The
// copy inherits both.
[[nodiscard]] bool StartFinishingCopy(HANDLE program, HANDLE folder) noexcept;

// What the copy inherits, named on its command line after /FinishUninstall.
struct FinishHandles {
    HANDLE original = nullptr;       // the process that started the copy
    HANDLE program = nullptr;        // its program file
    HANDLE folder = nullptr;         // the installation folder
    HANDLE privateFolder = nullptr;  // the copy's own folder
    HANDLE copy = nullptr;           // the copy's own file, deleted when its last handle closes
};
[[nodiscard]] bool ParseFinishArguments(const char* commandLine, FinishHandles& handles) noexcept;

// Waits for the original process to end, removes its program file and then
// the installation folder when empty, and leaves nothing of the copy behind.
[[nodiscard]] int RunFinishStep(const FinishHandles& handles) noexcept;

}  // namespace larkspan
