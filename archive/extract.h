// The extraction procedures behind ExtractArchiveItem: to an open handle or a
// file path (16 KiB chunks, progress after every write, the item's times), and
// into a memory buffer piece by piece. Handle, mode and index are checked by
// the caller.
#pragma once

#include "archive/archive_state.h"

#include <cstdint>

// mode TargetHandle or TargetFileName.
[[nodiscard]] ArchiveResult ExtractItemToFile(ArchiveState* state, std::uint32_t index, void* target, int mode,
                                              ExtractProgressFn progress) noexcept;
[[nodiscard]] ArchiveResult ExtractItemToMemory(ArchiveState* state, std::uint32_t index, void* buffer,
                                                DWORD length) noexcept;
