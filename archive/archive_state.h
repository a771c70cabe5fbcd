// What an open archive handle keeps between calls.
#pragma once

#include "archive/archive.h"
#include "archive/directory_reader.h"

#include <cstdint>

#include "common/unique.h"

using UniqueDirectoryReader = win32::UniqueOf<DirectoryReader*, CloseDirectory>;

struct ArchiveState {
    UniqueDirectoryReader reader;
    std::int32_t memoryItemIndex = -1;  // item of the memory extraction under way, -1 when none
    ArchiveItem cachedItem{};           // the record most recently filled
    std::int32_t cachedIndex = -1;      // its index, -1 while empty
    char baseFolder[MAX_PATH] = {};     // current directory at opening, with a trailing separator
};

// The record for item `index`, from the one-record cache or freshly filled.
[[nodiscard]] ArchiveResult FillItemCached(ArchiveState* state, std::uint32_t index, ArchiveItem* item) noexcept;
// Ends a memory extraction under way, if any.
void EndMemoryExtraction(ArchiveState* state) noexcept;
