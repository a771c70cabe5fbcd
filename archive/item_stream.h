// The data of the item under the directory cursor: stored bytes copied, deflate
// data inflated through zlib (raw, 32 KiB window), delivered in pieces of the
// caller's size from a 16 KiB input buffer, with a running CRC-32.
#pragma once

#include "archive/directory_reader.h"

#include <cstdint>

constexpr std::uint32_t kItemInputBufferSize = 16384;

// Opens the item under the cursor (closing a stream still open).
[[nodiscard]] int OpenItemData(DirectoryReader* reader) noexcept;
// Bytes placed in `buffer` (0 at the end of the item), or a negative
// ReaderStatus or zlib error. Fills the whole buffer unless the item ends.
[[nodiscard]] int ReadItemData(DirectoryReader* reader, void* buffer, std::uint32_t length) noexcept;
// ReaderChecksumMismatch when the whole item was delivered and its CRC-32
// differs from the stored one; ReaderOk otherwise (also for an unfinished item).
[[nodiscard]] int ItemDataChecksumStatus(const DirectoryReader* reader) noexcept;
// Ends the stream; ReaderOk, ReaderChecksumMismatch or ReaderBadArgument.
[[nodiscard]] int CloseItemData(DirectoryReader* reader) noexcept;
