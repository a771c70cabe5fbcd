#include "tools/pechecksum/pe_sizes.h"

namespace pechecksum {
namespace {

constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kFileHeaderBytes = 20;  // after the four signature bytes
constexpr std::size_t kSectionHeaderBytes = 40;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
// Where the data directory count lies in the optional header; the directories follow it.
constexpr std::size_t kDirectoryCountPe32 = 92;
constexpr std::size_t kDirectoryCountPe32Plus = 108;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDirectoryTableBytes = 16;
constexpr std::size_t kDirectoryEntryBytes = 8;      // of a resource directory table
constexpr std::size_t kDataDirectoryEntryBytes = 8;  // of the optional header's data directories
constexpr std::size_t kDataEntryBytes = 16;

bool Fits(const std::vector<std::uint8_t>& image, std::size_t at, std::size_t bytes) noexcept {
    return at <= image.size() && image.size() - at >= bytes;
}

std::uint16_t Read16(const std::vector<std::uint8_t>& image, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(image[at] | (image[at + 1] << 8));
}

std::uint32_t Read32(const std::vector<std::uint8_t>& image, std::size_t at) noexcept {
    return static_cast<std::uint32_t>(image[at]) | (static_cast<std::uint32_t>(image[at + 1]) << 8) |
           (static_cast<std::uint32_t>(image[at + 2]) << 16) | (static_cast<std::uint32_t>(image[at + 3]) << 24);
}

struct Headers {
    std::size_t optionalHeader = 0;
    std::size_t sectionTable = 0;
    std::uint16_t sectionCount = 0;
};

std::optional<Headers> ReadHeaders(const std::vector<std::uint8_t>& image) noexcept {
    if (!Fits(image, 0, kLfanewOffset + 4) || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
    const std::size_t pe = Read32(image, kLfanewOffset);
    if (!Fits(image, pe, 4 + kFileHeaderBytes) || Read32(image, pe) != 0x00004550u) return std::nullopt;
    Headers headers;
    headers.sectionCount = Read16(image, pe + 6);
    headers.optionalHeader = pe + 4 + kFileHeaderBytes;
    headers.sectionTable = headers.optionalHeader + Read16(image, pe + 20);
    if (!Fits(image, headers.sectionTable, headers.sectionCount * kSectionHeaderBytes)) return std::nullopt;
    return headers;
}

// The file offset of a relative virtual address, through the section that holds it.
std::optional<std::size_t> FileOffset(const std::vector<std::uint8_t>& image, const Headers& headers,
                                      std::uint32_t rva) noexcept {
    for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
        const std::size_t section = headers.sectionTable + i * kSectionHeaderBytes;
        const std::uint32_t start = Read32(image, section + 12);
        const std::uint32_t rawBytes = Read32(image, section + 16);
        if (rva >= start && rva - start < rawBytes) return Read32(image, section + 20) + (rva - start);
    }
    return std::nullopt;
}

// Entry `index` of the data directories of the image whose headers these are.
std::optional<DataDirectoryEntry> DataDirectoryOf(const std::vector<std::uint8_t>& image, const Headers& headers,
                                                  std::uint32_t index) noexcept {
    if (!Fits(image, headers.optionalHeader, 2)) return std::nullopt;
    const std::uint16_t magic = Read16(image, headers.optionalHeader);
    std::size_t countField = 0;
    if (magic == kMagicPe32) {
        countField = headers.optionalHeader + kDirectoryCountPe32;
    } else if (magic == kMagicPe32Plus) {
        countField = headers.optionalHeader + kDirectoryCountPe32Plus;
    } else {
        return std::nullopt;
    }
    if (!Fits(image, countField, 4)) return std::nullopt;
    if (Read32(image, countField) <= index) return DataDirectoryEntry{};  // the header has no such entry
    const std::size_t entry = countField + 4 + static_cast<std::size_t>(index) * kDataDirectoryEntryBytes;
    if (!Fits(image, entry, kDataDirectoryEntryBytes)) return std::nullopt;
    return DataDirectoryEntry{Read32(image, entry), Read32(image, entry + 4)};
}

// One level of the resource tree, within the resource section at `root`.
class ResourceTree {
public:
    ResourceTree(const std::vector<std::uint8_t>& image, std::size_t root) : image_(image), root_(root) {}

    // The entry of the table at `table` (relative to the root) that matches,
    // as its offset field; empty when there is none or the table is damaged.
    std::optional<std::uint32_t> Find(std::uint32_t table, const ResourceType& key) const {
        const std::size_t at = root_ + table;
        if (!Fits(image_, at, kDirectoryTableBytes)) return std::nullopt;
        const std::size_t count = static_cast<std::size_t>(Read16(image_, at + 12)) + Read16(image_, at + 14);
        if (!Fits(image_, at + kDirectoryTableBytes, count * kDirectoryEntryBytes)) return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry = at + kDirectoryTableBytes + i * kDirectoryEntryBytes;
            const std::uint32_t name = Read32(image_, entry);
            const bool named = (name & kHighBit) != 0;
            if (named != !key.name.empty()) continue;
            if (named ? NameIs(name & ~kHighBit, key.name) : name == key.id) return Read32(image_, entry + 4);
        }
        return std::nullopt;
    }

    // Every entry's offset field of the table at `table`.
    std::optional<std::vector<std::uint32_t>> Entries(std::uint32_t table) const {
        const std::size_t at = root_ + table;
        if (!Fits(image_, at, kDirectoryTableBytes)) return std::nullopt;
        const std::size_t count = static_cast<std::size_t>(Read16(image_, at + 12)) + Read16(image_, at + 14);
        if (!Fits(image_, at + kDirectoryTableBytes, count * kDirectoryEntryBytes)) return std::nullopt;
        std::vector<std::uint32_t> offsets;
        for (std::size_t i = 0; i < count; ++i) {
            offsets.push_back(Read32(image_, at + kDirectoryTableBytes + i * kDirectoryEntryBytes + 4));
        }
        return offsets;
    }

    // The size field of the data entry at `entry`.
    std::optional<std::uint32_t> DataBytes(std::uint32_t entry) const {
        if (!Fits(image_, root_ + entry, kDataEntryBytes)) return std::nullopt;
        return Read32(image_, root_ + entry + 4);
    }

private:
    // Names are counted UTF-16 strings; the ones compared here are ASCII.
    bool NameIs(std::uint32_t offset, const std::string& wanted) const {
        const std::size_t at = root_ + offset;
        if (!Fits(image_, at, 2)) return false;
        const std::size_t length = Read16(image_, at);
        if (length != wanted.size() || !Fits(image_, at + 2, 2 * length)) return false;
        for (std::size_t i = 0; i < length; ++i) {
            if (Read16(image_, at + 2 + 2 * i) != static_cast<unsigned char>(wanted[i])) return false;
        }
        return true;
    }

    const std::vector<std::uint8_t>& image_;
    std::size_t root_;
};

}  // namespace

std::vector<SectionSize> SectionSizes(const std::vector<std::uint8_t>& image) {
    std::vector<SectionSize> sizes;
    const std::optional<Headers> headers = ReadHeaders(image);
    if (!headers) return sizes;
    for (std::uint16_t i = 0; i < headers->sectionCount; ++i) {
        const std::size_t section = headers->sectionTable + i * kSectionHeaderBytes;
        SectionSize size;
        for (std::size_t c = 0; c < 8 && image[section + c] != 0; ++c)
            size.name += static_cast<char>(image[section + c]);
        size.virtualBytes = Read32(image, section + 8);
        size.fileBytes = Read32(image, section + 16);
        sizes.push_back(size);
    }
    return sizes;
}

std::optional<DataDirectoryEntry> DataDirectory(const std::vector<std::uint8_t>& image, std::uint32_t index) {
    const std::optional<Headers> headers = ReadHeaders(image);
    if (!headers) return std::nullopt;
    return DataDirectoryOf(image, *headers, index);
}

std::optional<std::uint64_t> ResourceBytes(const std::vector<std::uint8_t>& image, const ResourceType& type,
                                           std::uint16_t id) {
    const std::optional<Headers> headers = ReadHeaders(image);
    if (!headers) return std::nullopt;
    const std::optional<DataDirectoryEntry> directory = DataDirectoryOf(image, *headers, kResourceDirectory);
    if (!directory) return std::nullopt;
    if (directory->address == 0) return 0;  // no resource directory at all
    const std::optional<std::size_t> root = FileOffset(image, *headers, directory->address);
    if (!root) return std::nullopt;

    const ResourceTree tree(image, *root);
    const std::optional<std::uint32_t> types = tree.Find(0, type);
    if (!types) return 0;
    ResourceType name;
    name.id = id;
    const std::optional<std::uint32_t> languages = (*types & kHighBit) != 0 ? tree.Find(*types & ~kHighBit, name)
                                                                            : std::nullopt;
    if (!languages) return 0;
    if ((*languages & kHighBit) == 0) return std::nullopt;  // the tree has levels of type, name and language
    const auto entries = tree.Entries(*languages & ~kHighBit);
    if (!entries) return std::nullopt;
    std::uint64_t total = 0;
    for (std::uint32_t entry : *entries) {
        if ((entry & kHighBit) != 0) return std::nullopt;  // deeper than the language level
        const std::optional<std::uint32_t> bytes = tree.DataBytes(entry);
        if (!bytes) return std::nullopt;
        total += *bytes;
    }
    return total;
}

}  // namespace pechecksum
