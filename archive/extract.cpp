#include "archive/extract.h"

#include "archive/item_stream.h"
#include "archive/stored_name.h"
#include "setup/create_folder_path.h"
#include "common/path_text.h"
#include "common/unique_handle.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::uint32_t kChunkSize = 16384;
constexpr std::size_t kPathCapacity = MAX_PATH;  // 259 characters and the terminator
constexpr std::size_t kPartLimit = 255;          // longest folder, file-name or extension part
// Attributes that do not stand in the way of replacing a file.
constexpr DWORD kPlainAttributes = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;

// Joins `first` and `second` into `out`; false when the result would not fit.
bool JoinPath(char (&out)[kPathCapacity], const char* first, const char* second) noexcept {
    const std::size_t a = std::strlen(first);
    const std::size_t b = std::strlen(second);
    if (a + b >= kPathCapacity) return false;
    std::memcpy(out, first, a);
    std::memcpy(out + a, second, b + 1);
    return true;
}

// The drive and folder part of `target` ("C:\A\B\" of "C:\A\B\x.txt") into
// `folder`; false when the path or one of its parts is too long to handle.
bool FolderPartOf(const char* target, char (&folder)[kPathCapacity]) noexcept {
    const std::size_t length = std::strlen(target);
    if (length >= kPathCapacity) return false;
    std::size_t drive = 0;
    if (length >= 2 && target[1] == ':' && !::IsDBCSLeadByte(static_cast<BYTE>(target[0]))) drive = 2;
    std::size_t nameStart = drive;  // just after the last separator
    std::size_t lastDot = std::string_view::npos;
    for (std::size_t i = drive; i < length; i += win32::CharacterBytes(target + i)) {
        if (win32::IsPathSeparator(target[i])) {
            nameStart = i + 1;
            lastDot = std::string_view::npos;
        } else if (target[i] == '.') {
            lastDot = i;
        }
    }
    const std::size_t nameEnd = lastDot == std::string_view::npos ? length : lastDot;
    if (nameStart - drive > kPartLimit || nameEnd - nameStart > kPartLimit || length - nameEnd > kPartLimit) {
        return false;
    }
    std::memcpy(folder, target, nameStart);
    folder[nameStart] = '\0';
    return true;
}

enum class CopyOutcome { Copied, DataDamaged, WriteFailed };

// Writes the item under the cursor to `output` chunk by chunk; Copied when
// every byte was read, written and matched the stored CRC-32.
CopyOutcome CopyItemData(DirectoryReader* reader, HANDLE output, ExtractProgressFn progress) noexcept {
    static_cast<void>(OpenItemData(reader));  // a failed open shows as a failing read
    std::uint8_t chunk[kChunkSize];
    CopyOutcome outcome = CopyOutcome::Copied;
    for (;;) {
        const int n = ReadItemData(reader, chunk, kChunkSize);
        if (n < 0) {
            outcome = CopyOutcome::DataDamaged;
            break;
        }
        if (n == 0) break;
        DWORD written = 0;
        if (!::WriteFile(output, chunk, static_cast<DWORD>(n), &written, nullptr) || written != static_cast<DWORD>(n)) {
            outcome = CopyOutcome::WriteFailed;
            break;
        }
        if (progress != nullptr) static_cast<void>(progress(&written));
    }
    // Damaged data never counts as extracted, even when every byte was written.
    if (CloseItemData(reader) != ReaderOk && outcome == CopyOutcome::Copied) outcome = CopyOutcome::DataDamaged;
    return outcome;
}

}  // namespace

ArchiveResult ExtractItemToFile(ArchiveState* state, std::uint32_t index, void* target, int mode,
                                ExtractProgressFn progress) noexcept {
    DirectoryReader* reader = state->reader.get();
    ArchiveItem item;
    const ArchiveResult filled = FillItemCached(state, index, &item);
    if (filled != ArchiveOk) return filled;
    if (PositionOnItem(reader, index) != ReaderOk) return ArchiveErrItemHeader;

    if ((item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (mode == TargetHandle) return ArchiveOk;
        char folder[kPathCapacity];
        if (!StoredNameStaysInside(item.name) || !JoinPath(folder, state->baseFolder, item.name)) {
            return ArchiveErrOpenFile;
        }
        static_cast<void>(CreateFolderPath(folder));
        return ArchiveOk;
    }

    win32::UniqueFile ownedFile;
    HANDLE output = INVALID_HANDLE_VALUE;
    char path[kPathCapacity] = "";
    if (mode == TargetHandle) {
        output = static_cast<HANDLE>(target);
    } else {
        const char* wanted = static_cast<const char*>(target);
        if (wanted != nullptr && wanted[0] != '\0') {
            char folder[kPathCapacity];
            if (!FolderPartOf(wanted, folder)) return ArchiveErrOpenFile;
            // Creating walks every component of the path; most items land in a
            // folder that already exists, which one look answers.
            if (folder[0] != '\0' && !IsExistingFolder(folder)) static_cast<void>(CreateFolderPath(folder));
            std::memcpy(path, wanted, std::strlen(wanted) + 1);
        } else {
            // The stored name, taken relative to the current directory.
            if (!StoredNameStaysInside(item.name) || !JoinPath(path, "", item.name)) return ArchiveErrOpenFile;
        }
        // Most targets do not exist yet: creating the file as new settles those
        // with one call. Any other target takes the way that replaces an
        // existing file, with its read-only, hidden or system attribute cleared
        // first (only when it has one: setting attributes costs many times what
        // looking at them does).
        ownedFile.reset(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!ownedFile) {
            const DWORD existing = ::GetFileAttributesA(path);
            if (existing != INVALID_FILE_ATTRIBUTES && (existing & ~kPlainAttributes) != 0) {
                ::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            }
            ownedFile.reset(
                ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        output = ownedFile.get();
    }
    if (output == INVALID_HANDLE_VALUE) return ArchiveErrOpenFile;

    const CopyOutcome outcome = CopyItemData(reader, output, progress);
    if (outcome == CopyOutcome::Copied && ::GetFileType(output) == FILE_TYPE_DISK) {
        ::SetFileTime(output, &item.creationTime, &item.accessTime, &item.writeTime);
    }
    if (outcome == CopyOutcome::DataDamaged && mode == TargetFileName) {
        // A file of damaged data under the item's name would look installed.
        ownedFile.reset();
        ::DeleteFileA(path);
    }
    return outcome == CopyOutcome::Copied ? ArchiveOk : ArchiveErrExtract;
}

ArchiveResult ExtractItemToMemory(ArchiveState* state, std::uint32_t index, void* buffer, DWORD length) noexcept {
    DirectoryReader* reader = state->reader.get();
    if (static_cast<std::int32_t>(index) != state->memoryItemIndex) {
        EndMemoryExtraction(state);
        if (PositionOnItem(reader, index) != ReaderOk) return ArchiveErrMemoryExtract;
        static_cast<void>(OpenItemData(reader));  // a failed open shows as a failing read
        state->memoryItemIndex = static_cast<std::int32_t>(index);
    }
    const int n = ReadItemData(reader, buffer, length);
    // The CRC-32 is compared once the whole item is delivered, an empty one too.
    const bool intact = n >= 0 && ItemDataChecksumStatus(reader) == ReaderOk;
    if (n > 0 && intact) return ArchiveMoreData;
    EndMemoryExtraction(state);
    return n == 0 && intact ? ArchiveOk : ArchiveErrMemoryExtract;
}
