#include "archive/archive.h"

#include "archive/archive_state.h"
#include "archive/byte_source.h"
#include "archive/extract.h"
#include "archive/item_stream.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/path_text.h"

namespace {

// The current directory with a separator after it, or an empty base (folder
// items then land relative to the current directory) when it does not fit.
void TakeBaseFolder(char (&base)[MAX_PATH]) noexcept {
    const DWORD length = ::GetCurrentDirectoryA(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH - 1) {
        base[0] = '\0';
        return;
    }
    // A root such as C:\ already ends in a separator.
    if (!win32::IsPathSeparator(base[length - 1])) {
        base[length] = '\\';
        base[length + 1] = '\0';
    }
}

// ArchiveOk for a usable handle, else the result that refuses it.
ArchiveResult CheckHandle(ArchiveHandle archive) noexcept {
    if (archive == nullptr) return ArchiveErrArgument;
    if (archive->kind != kArchiveReadingHandle) return ArchiveErrHandleKind;
    return ArchiveOk;
}

bool IsItemIndex(const ArchiveState* state, int index) noexcept {
    return index >= 0 && static_cast<std::uint32_t>(index) < state->reader->entryCount;
}

}  // namespace

void EndMemoryExtraction(ArchiveState* state) noexcept {
    if (state->memoryItemIndex == -1) return;
    static_cast<void>(CloseItemData(state->reader.get()));
    state->memoryItemIndex = -1;
}

ArchiveResult FillItemCached(ArchiveState* state, std::uint32_t index, ArchiveItem* item) noexcept {
    if (state->cachedIndex != -1 && static_cast<std::uint32_t>(state->cachedIndex) == index) {
        *item = state->cachedItem;
        return ArchiveOk;
    }
    ArchiveItem record;
    const ArchiveResult result = FillArchiveItem(state->reader.get(), index, &record);
    if (result != ArchiveOk) return result;
    state->cachedItem = record;
    state->cachedIndex = static_cast<std::int32_t>(index);
    *item = record;
    return ArchiveOk;
}

ArchiveHandle OpenArchive(const void* source, DWORD size, int kind) noexcept {
    // A pipe or a console cannot be read in place.
    if (kind == SourceHandle && ::GetFileType(const_cast<void*>(source)) != FILE_TYPE_DISK) return nullptr;
    std::unique_ptr<ArchiveState> state(new (std::nothrow) ArchiveState);
    if (!state) return nullptr;
    TakeBaseFolder(state->baseFolder);
    state->reader.reset(OpenDirectory(OpenByteSource(source, size, kind)));
    if (!state->reader) return nullptr;
    ArchiveHandle archive = new (std::nothrow) ArchiveHandleRecord{kArchiveReadingHandle, state.get()};
    if (archive != nullptr) static_cast<void>(state.release());
    return archive;
}

ArchiveResult GetArchiveItem(ArchiveHandle archive, int index, ArchiveItem* item) noexcept {
    const ArchiveResult check = CheckHandle(archive);
    if (check != ArchiveOk) return check;
    ArchiveState* state = archive->state;
    if (item == nullptr || index < -1 || (index != -1 && !IsItemIndex(state, index))) return ArchiveErrArgument;
    EndMemoryExtraction(state);
    if (index == -1) {
        std::memset(item, 0, sizeof *item);
        item->index = static_cast<std::int32_t>(state->reader->entryCount);
        return ArchiveOk;
    }
    return FillItemCached(state, static_cast<std::uint32_t>(index), item);
}

ArchiveResult ExtractArchiveItem(ArchiveHandle archive, int index, void* target, DWORD length, int mode,
                                 ExtractProgressFn progress) noexcept {
    const ArchiveResult check = CheckHandle(archive);
    if (check != ArchiveOk) return check;
    if (mode != TargetHandle && mode != TargetFileName && mode != TargetMemory) return ArchiveErrArgument;
    ArchiveState* state = archive->state;
    if (mode == TargetMemory) {
        if (index != state->memoryItemIndex) EndMemoryExtraction(state);
        if (!IsItemIndex(state, index)) return ArchiveErrArgument;
        if (target == nullptr && length != 0) return ArchiveErrArgument;
        return ExtractItemToMemory(state, static_cast<std::uint32_t>(index), target, length);
    }
    EndMemoryExtraction(state);
    if (!IsItemIndex(state, index)) return ArchiveErrArgument;
    return ExtractItemToFile(state, static_cast<std::uint32_t>(index), target, mode, progress);
}

ArchiveResult CloseArchive(ArchiveHandle archive) noexcept {
    const ArchiveResult check = CheckHandle(archive);
    if (check != ArchiveOk) return check;
    const std::unique_ptr<ArchiveHandleRecord> record(archive);
    const std::unique_ptr<ArchiveState> state(archive->state);  // closes the directory reader
    EndMemoryExtraction(state.get());
    return ArchiveOk;
}
