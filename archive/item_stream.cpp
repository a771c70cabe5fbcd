#include "archive/item_stream.h"

#include "archive/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

struct ItemStream {
    std::unique_ptr<std::uint8_t[]> input;  // kItemInputBufferSize bytes (handle sources read through it)
    z_stream zs{};                          // windows over the input buffer and the caller's buffer
    std::uint32_t dataPosition = 0;         // archive offset of the next compressed byte
    bool inflateReady = false;
    uLong crc = 0;
    std::uint32_t expectedCrc = 0;
    std::uint32_t compressedLeft = 0;
    std::uint32_t uncompressedLeft = 0;
    std::uint32_t method = 0;
    ByteSource* source = nullptr;  // the reader's, not owned
    std::uint32_t bytesBefore = 0;
};

namespace {

// Makes the next piece of compressed data available to the input window.
// Every refill starts from the stream's own data position, never from where
// the source happens to stand, so the source may have been moved in between
// (a memory extraction left open while the directory is read).
//
// A handle source is read in 16 KiB pieces through the input buffer. A memory
// source needs no copy: the window covers the rest of the item's data in the
// block at once, which spares inflate a call (and a 32 KiB window update) per
// 16 KiB of input.
[[nodiscard]] int Refill(ItemStream* s) noexcept {
    const std::uint32_t position = s->dataPosition + s->bytesBefore;
    std::uint32_t n = 0;
    if (!s->source->isHandle) {
        const ByteSource* block = s->source;
        if (position > block->blockLength || block->blockLength - position < s->compressedLeft) {
            return ReaderReadFailed;  // the item's data runs past the end of the block
        }
        n = s->compressedLeft;
        s->zs.next_in = const_cast<Bytef*>(block->block + position);
    } else {
        n = std::min(kItemInputBufferSize, s->compressedLeft);
        if (SeekSource(s->source, static_cast<std::int32_t>(position), SeekFromStart) != 0) return ReaderReadFailed;
        if (ReadBytes(s->input.get(), n, 1, s->source) != 1) return ReaderReadFailed;
        s->zs.next_in = s->input.get();
    }
    s->dataPosition += n;
    s->compressedLeft -= n;
    s->zs.avail_in = n;
    return ReaderOk;
}

}  // namespace

int OpenItemData(DirectoryReader* reader) noexcept {
    if (reader == nullptr || !reader->cursorValid) return ReaderBadArgument;
    if (reader->stream != nullptr) static_cast<void>(CloseItemData(reader));
    LocalHeaderLayout layout;
    if (VerifyLocalHeader(reader, &layout) != ReaderOk) return ReaderDamaged;
    std::unique_ptr<ItemStream> s(new (std::nothrow) ItemStream);
    if (!s) return ReaderOutOfMemory;
    s->input.reset(new (std::nothrow) std::uint8_t[kItemInputBufferSize]);
    if (!s->input) return ReaderOutOfMemory;
    const DirectoryEntry& e = reader->entry;
    s->expectedCrc = e.crc32;
    s->crc = crc32(0L, Z_NULL, 0);
    s->method = e.method;
    s->compressedLeft = e.compressedSize;
    s->uncompressedLeft = e.uncompressedSize;
    s->dataPosition = e.localHeaderOffset + kLocalHeaderSize + layout.nameAndExtraSize;
    s->source = reader->source.get();
    s->bytesBefore = reader->bytesBefore;
    if (s->method == kMethodDeflated) {
        // A failed initialisation shows as zlib's error on the first read.
        s->inflateReady = inflateInit2(&s->zs, -MAX_WBITS) == Z_OK;
    }
    reader->stream = s.release();
    return ReaderOk;
}

int ReadItemData(DirectoryReader* reader, void* buffer, std::uint32_t length) noexcept {
    if (reader == nullptr || reader->stream == nullptr) return ReaderBadArgument;
    ItemStream* s = reader->stream;
    if (!s->input) return ReaderEndOfList;
    if (length == 0) return 0;
    // The result is an int: one call never delivers more than 2 GiB - 1.
    const std::uint32_t room = std::min({length, s->uncompressedLeft, std::uint32_t{0x7FFFFFFF}});
    if (room == 0) return 0;
    auto* out = static_cast<Bytef*>(buffer);
    s->zs.next_out = out;
    s->zs.avail_out = room;
    std::uint32_t delivered = 0;
    while (s->zs.avail_out > 0) {
        if (s->zs.avail_in == 0 && s->compressedLeft > 0) {
            const int status = Refill(s);
            if (status != ReaderOk) return status;
        }
        if (s->method == kMethodStored) {
            // Stored data that ends before its declared size: nothing more will
            // come, so the item is damaged rather than merely short.
            if (s->zs.avail_in == 0) return ReaderDamaged;
            const std::uint32_t k = std::min(s->zs.avail_out, s->zs.avail_in);
            std::memcpy(s->zs.next_out, s->zs.next_in, k);
            s->crc = UpdateCrc32(s->crc, s->zs.next_out, k);
            s->zs.next_in += k;
            s->zs.avail_in -= k;
            s->zs.next_out += k;
            s->zs.avail_out -= k;
            s->uncompressedLeft -= k;
            delivered += k;
        } else if (s->method == kMethodDeflated) {
            Bytef* const start = s->zs.next_out;
            const int result = inflate(&s->zs, Z_SYNC_FLUSH);
            const auto produced = static_cast<std::uint32_t>(s->zs.next_out - start);
            if (produced != 0) s->crc = UpdateCrc32(s->crc, start, produced);
            s->uncompressedLeft -= produced;
            delivered += produced;
            if (result == Z_STREAM_END) {
                // Deflate data that ends before the declared size was delivered
                // is damaged, and this call says so rather than hand back a
                // buffer that is only partly written.
                if (s->zs.avail_out > 0) return ReaderDamaged;
                break;
            }
            if (result != Z_OK) return result;
        } else {
            return ReaderDamaged;
        }
    }
    return static_cast<int>(delivered);
}

int ItemDataChecksumStatus(const DirectoryReader* reader) noexcept {
    if (reader == nullptr || reader->stream == nullptr) return ReaderBadArgument;
    const ItemStream* s = reader->stream;
    if (s->uncompressedLeft == 0 && s->crc != s->expectedCrc) return ReaderChecksumMismatch;
    return ReaderOk;
}

int CloseItemData(DirectoryReader* reader) noexcept {
    if (reader == nullptr || reader->stream == nullptr) return ReaderBadArgument;
    const int status = ItemDataChecksumStatus(reader);
    const std::unique_ptr<ItemStream> s(std::exchange(reader->stream, nullptr));
    if (s->inflateReady) inflateEnd(&s->zs);
    return status;
}
