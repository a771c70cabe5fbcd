// Writes the payload archive form: ZIP whose local headers carry the changed
// signature. Every integer goes out little-endian, byte by byte, so the output
// is the same on every host.
#include "tools/packer/zip_packer.h"

#include "tools/bytes/little_endian.h"

#include <zlib.h>

#include <cstring>
#include <utility>

namespace packer {
namespace {

using bytes::Put16;
using bytes::Put32;

constexpr std::uint32_t kPayloadLocalSignature = 0x04555550;   // 50 55 55 04
constexpr std::uint32_t kStandardLocalSignature = 0x04034B50;  // 50 4B 03 04
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kDescriptorSignature = 0x08074B50;
constexpr std::uint16_t kVersionNeeded = 20;
constexpr std::uint16_t kVersionMadeBy = 0x031E;  // Unix host, format 3.0
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint32_t kDefaultFileAttributes = (0100644u << 16) | 0x20u;
constexpr std::uint32_t kDefaultFolderAttributes = (040755u << 16) | 0x10u;

void PutBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

}  // namespace

std::vector<std::uint8_t> ZlibDeflate(const std::vector<std::uint8_t>& data, int level) {
    if (level < 1) level = 1;
    if (level > 9) level = 9;
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    std::vector<std::uint8_t> out;
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return out;
    }
    out.resize(deflateBound(&stream, static_cast<uLong>(data.size())) + 16);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = Z_OK;
    while (status == Z_OK) {
        status = deflate(&stream, Z_FINISH);
        if (status == Z_OK || status == Z_BUF_ERROR) {
            // deflateBound is an upper bound, but grow rather than trust it blindly.
            const std::size_t used = out.size() - stream.avail_out;
            out.resize(out.size() * 2);
            stream.next_out = out.data() + used;
            stream.avail_out = static_cast<uInt>(out.size() - used);
            status = Z_OK;
        }
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

namespace {

std::uint32_t Crc32(const std::vector<std::uint8_t>& data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    return static_cast<std::uint32_t>(crc);
}

std::vector<std::uint8_t> LocalUtBlock(const Item& item) {
    std::vector<std::uint8_t> block;
    if (item.localUtFlags == 0) return block;
    std::vector<std::uint8_t> body;
    body.push_back(item.localUtFlags);
    if (item.localUtFlags & 1) Put32(body, item.modificationTime);
    if (item.localUtFlags & 2) Put32(body, item.accessTime);
    if (item.localUtFlags & 4) Put32(body, item.creationTime);
    block.push_back('U');
    block.push_back('T');
    Put16(block, static_cast<std::uint32_t>(body.size()));
    block.insert(block.end(), body.begin(), body.end());
    return block;
}

// The central copy of the block names the same flags but carries only the
// modification time, as ZIP tools write it.
std::vector<std::uint8_t> CentralUtBlock(const Item& item) {
    std::vector<std::uint8_t> block;
    if (item.localUtFlags == 0) return block;
    block.push_back('U');
    block.push_back('T');
    Put16(block, (item.localUtFlags & 1) ? 5 : 1);
    block.push_back(item.localUtFlags);
    if (item.localUtFlags & 1) Put32(block, item.modificationTime);
    return block;
}

struct PreparedItem {
    std::vector<std::uint8_t> payload;  // bytes as stored in the archive
    Method method;
    std::uint32_t crc;
    std::uint32_t uncompressedSize;
    std::uint32_t attributes;
    std::uint16_t flags;
};

bool IsDeflated(const Item& item) { return !item.folder && item.method == Method::Deflate; }

PreparedItem Prepare(const Item& item, std::vector<std::uint8_t> deflated, bool storeWhenNotSmaller) {
    PreparedItem prepared;
    if (item.folder) {
        prepared.method = Method::Stored;
        prepared.crc = 0;
        prepared.uncompressedSize = 0;
    } else {
        prepared.method = item.method;
        prepared.crc = Crc32(item.data);
        prepared.uncompressedSize = static_cast<std::uint32_t>(item.data.size());
        if (item.method == Method::Deflate) {
            prepared.payload = std::move(deflated);
            if (storeWhenNotSmaller && prepared.payload.size() >= item.data.size()) {
                prepared.method = Method::Stored;
                prepared.payload = item.data;
            }
        } else {
            prepared.payload = item.data;
        }
    }
    prepared.attributes = item.externalAttributes != 0
                              ? item.externalAttributes
                              : (item.folder ? kDefaultFolderAttributes : kDefaultFileAttributes);
    prepared.flags = item.dataDescriptor ? kFlagDataDescriptor : 0;
    return prepared;
}

}  // namespace

std::uint32_t DosDateTime(std::uint32_t unixSeconds) {
    constexpr std::uint32_t kDosEpoch = 315532800;  // 1980-01-01 00:00:00 UTC
    if (unixSeconds < kDosEpoch) return (((0u << 9) | (1u << 5) | 1u) << 16);
    const std::uint32_t days = unixSeconds / 86400;
    const std::uint32_t secondsOfDay = unixSeconds % 86400;
    // Civil date from a day count (days since 1970-01-01), proleptic Gregorian.
    const std::int64_t z = static_cast<std::int64_t>(days) + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    const std::uint32_t dosDate = (static_cast<std::uint32_t>(year - 1980) << 9) |
                                  (static_cast<std::uint32_t>(month) << 5) | static_cast<std::uint32_t>(day);
    const std::uint32_t hour = secondsOfDay / 3600;
    const std::uint32_t minute = (secondsOfDay / 60) % 60;
    const std::uint32_t second = secondsOfDay % 60;
    const std::uint32_t dosTime = (hour << 11) | (minute << 5) | (second / 2);
    return (dosDate << 16) | dosTime;
}

Packed Pack(const std::vector<Item>& items, const Options& options) {
    std::vector<std::vector<std::uint8_t>> deflated(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (IsDeflated(items[i])) deflated[i] = options.deflater(items[i].data, items[i].level);
    }
    return PackDeflated(items, std::move(deflated), options);
}

Packed PackDeflated(const std::vector<Item>& items, std::vector<std::vector<std::uint8_t>> deflated,
                    const Options& options) {
    deflated.resize(items.size());
    Packed packed;
    std::vector<std::uint8_t>& out = packed.bytes;
    out = options.prepend;
    const std::uint32_t base = static_cast<std::uint32_t>(options.prepend.size());
    const std::uint32_t localSignature = options.standardLocalSignature ? kStandardLocalSignature
                                                                        : kPayloadLocalSignature;

    std::vector<PreparedItem> prepared;
    prepared.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        PreparedItem p = Prepare(item, std::move(deflated[i]), options.storeWhenNotSmaller);
        const std::uint32_t dos = DosDateTime(item.modificationTime);
        std::vector<std::uint8_t> extra = item.localExtraBefore;
        const std::vector<std::uint8_t> ut = LocalUtBlock(item);
        extra.insert(extra.end(), ut.begin(), ut.end());
        extra.insert(extra.end(), item.localExtraAfter.begin(), item.localExtraAfter.end());

        ItemLayout layout{};
        layout.localHeaderOffset = static_cast<std::uint32_t>(out.size());
        layout.compressedSize = static_cast<std::uint32_t>(p.payload.size());
        layout.crc32 = p.crc;

        Put32(out, localSignature);
        Put16(out, kVersionNeeded);
        Put16(out, p.flags);
        Put16(out, static_cast<std::uint16_t>(p.method));
        Put32(out, dos);
        if (item.dataDescriptor) {
            Put32(out, 0);
            Put32(out, 0);
            Put32(out, 0);
        } else {
            Put32(out, p.crc);
            Put32(out, layout.compressedSize);
            Put32(out, p.uncompressedSize);
        }
        Put16(out, static_cast<std::uint32_t>(item.name.size()));
        Put16(out, static_cast<std::uint32_t>(extra.size()));
        PutBytes(out, item.name.data(), item.name.size());
        PutBytes(out, extra.data(), extra.size());
        layout.dataOffset = static_cast<std::uint32_t>(out.size());
        PutBytes(out, p.payload.data(), p.payload.size());
        if (item.dataDescriptor) {
            Put32(out, kDescriptorSignature);
            Put32(out, p.crc);
            Put32(out, layout.compressedSize);
            Put32(out, p.uncompressedSize);
        }
        packed.items.push_back(layout);
        // The central directory needs everything but the data.
        p.payload = {};
        prepared.push_back(std::move(p));
    }

    packed.centralDirectoryOffset = static_cast<std::uint32_t>(out.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        const PreparedItem& p = prepared[i];
        ItemLayout& layout = packed.items[i];
        const std::vector<std::uint8_t> extra = CentralUtBlock(item);
        layout.centralHeaderOffset = static_cast<std::uint32_t>(out.size());
        Put32(out, kCentralSignature);
        Put16(out, kVersionMadeBy);
        Put16(out, kVersionNeeded);
        Put16(out, p.flags);
        Put16(out, static_cast<std::uint16_t>(p.method));
        Put32(out, DosDateTime(item.modificationTime));
        Put32(out, p.crc);
        Put32(out, layout.compressedSize);
        Put32(out, p.uncompressedSize);
        Put16(out, static_cast<std::uint32_t>(item.name.size()));
        Put16(out, static_cast<std::uint32_t>(extra.size()));
        Put16(out, 0);  // comment length
        Put16(out, 0);  // disk number start
        Put16(out, 0);  // internal attributes
        Put32(out, p.attributes);
        Put32(out, layout.localHeaderOffset - base);
        PutBytes(out, item.name.data(), item.name.size());
        PutBytes(out, extra.data(), extra.size());
    }
    packed.centralDirectorySize = static_cast<std::uint32_t>(out.size()) - packed.centralDirectoryOffset;

    packed.endRecordOffset = static_cast<std::uint32_t>(out.size());
    const std::string comment = options.comment.substr(0, 0xFFFF);
    Put32(out, kEndSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint32_t>(items.size()));
    Put16(out, static_cast<std::uint32_t>(items.size()));
    Put32(out, packed.centralDirectorySize);
    Put32(out, packed.centralDirectoryOffset - base);
    Put16(out, static_cast<std::uint32_t>(comment.size()));
    PutBytes(out, comment.data(), comment.size());
    return packed;
}

}  // namespace packer
