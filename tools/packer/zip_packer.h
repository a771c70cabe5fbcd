// The payload packer: writes archives in the setup's payload form. It is plain
// C++ with zlib, so it builds natively (the larkspan-pack tool) and into the
// Windows test programs, which make their fixtures with it. The deflate encoder
// is the caller's choice (Options::deflater): zlib's, which builds everywhere,
// or libdeflate's and Zopfli's (tools/packer/host_deflaters.h), which only the
// native build has and which the larkspan-pack tool uses.
//
// The form: ZIP with standard central headers and end record, but every local
// header starts with 50 55 55 04 instead of 50 4B 03 04. Items are stored or
// raw deflate; each local header carries a "UT" extra block with all three
// times, each central header a "UT" block with the modification time only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace packer {

enum class Method : std::uint16_t { Stored = 0, Deflate = 8 };

// A deflate encoder: raw deflate data (no zlib header or trailer) of `data` at
// `level`, on the encoder's own scale; a level outside it counts as the nearest
// end. An empty input still yields a valid final block, as every ZIP tool writes it.
using Deflater = std::vector<std::uint8_t> (*)(const std::vector<std::uint8_t>& data, int level);

// zlib's deflate, levels 1..9.
std::vector<std::uint8_t> ZlibDeflate(const std::vector<std::uint8_t>& data, int level);

struct Item {
    std::string name;                // stored name, bytes as given (use '/' inside folders)
    std::vector<std::uint8_t> data;  // empty for folder items
    Method method = Method::Deflate;
    int level = 6;        // deflate level on the scale of Options::deflater (zlib's: 1..9)
    bool folder = false;  // a folder item: name should end in '/', data empty, stored
    // External attributes: Unix mode in the high 16 bits, DOS bits in the low byte.
    // 0 means "the default": 0100644 << 16 | 0x20 for files, 040755 << 16 | 0x10 for folders.
    std::uint32_t externalAttributes = 0;
    std::uint32_t modificationTime = 0;  // Unix seconds (UTC)
    std::uint32_t accessTime = 0;
    std::uint32_t creationTime = 0;
    bool dataDescriptor = false;                 // flag bit 3: zero CRC and sizes in the local header, a
                                                 // data descriptor (with signature) after the data
    std::uint8_t localUtFlags = 7;               // flags of the local "UT" block; 0 leaves the block out
    std::vector<std::uint8_t> localExtraBefore;  // raw extra blocks placed before the local "UT" block
    std::vector<std::uint8_t> localExtraAfter;   // raw bytes placed after it (may be malformed on purpose)
};

struct Options {
    std::vector<std::uint8_t> prepend;    // bytes placed before the archive (offsets stay archive-relative)
    std::string comment;                  // archive comment in the end record
    bool standardLocalSignature = false;  // write 50 4B 03 04 (an ordinary ZIP), for tests
    Deflater deflater = ZlibDeflate;
    // A Deflate item whose deflate data would not be smaller than its data is
    // stored instead. Off by default: test fixtures need the method they ask for.
    bool storeWhenNotSmaller = false;
};

// Where things landed, as offsets into Packed::bytes (prepended bytes included).
struct ItemLayout {
    std::uint32_t localHeaderOffset;  // first byte of the local header
    std::uint32_t dataOffset;         // first byte of the item data
    std::uint32_t compressedSize;
    std::uint32_t crc32;
    std::uint32_t centralHeaderOffset;  // first byte of the item's central header
};

struct Packed {
    std::vector<std::uint8_t> bytes;
    std::vector<ItemLayout> items;
    std::uint32_t centralDirectoryOffset;  // into bytes
    std::uint32_t centralDirectorySize;
    std::uint32_t endRecordOffset;  // into bytes
};

// DOS date (high 16 bits) and time (low 16 bits) of a Unix time, taken as UTC
// with no time-zone conversion; times before 1980 give 1980-01-01 00:00:00.
std::uint32_t DosDateTime(std::uint32_t unixSeconds);

Packed Pack(const std::vector<Item>& items, const Options& options = {});

// Pack with the deflate data made beforehand, deflated[i] for items[i] (what
// options.deflater would give for a Deflate item; ignored for the others),
// for a caller that deflates on threads of its own: the same archive as Pack's
// when each deflated[i] is the deflater's output.
Packed PackDeflated(const std::vector<Item>& items, std::vector<std::vector<std::uint8_t>> deflated,
                    const Options& options = {});

}  // namespace packer
