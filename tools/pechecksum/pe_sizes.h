// Where the bytes of a linked PE file go: its sections as they lie in the
// file, its data directories, and the size of single resources. What the size
// figures of the setup and the installed program are measured with
// (larkspan-pestamp --sizes), and where the tests find a signature.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pechecksum {

struct SectionSize {
    std::string name;
    std::uint32_t fileBytes = 0;     // SizeOfRawData: what the section takes in the file
    std::uint32_t virtualBytes = 0;  // VirtualSize: what it takes in memory
};

// The sections in header order; empty when the image is not a PE file or its
// section table does not fit in the file.
[[nodiscard]] std::vector<SectionSize> SectionSizes(const std::vector<std::uint8_t>& image);

// One entry of the optional header's data directories: an address (a relative
// virtual address; for the certificate table, entry 4, a file offset) and a size.
struct DataDirectoryEntry {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

// Entry `index` of the data directories; {0, 0} when the header has fewer
// entries, empty when the image is not a PE file or the entry does not fit in it.
[[nodiscard]] std::optional<DataDirectoryEntry> DataDirectory(const std::vector<std::uint8_t>& image,
                                                              std::uint32_t index);

// A resource type: a number (RT_RCDATA is 10) or a name ("GIF").
struct ResourceType {
    std::uint16_t id = 0;
    std::string name;  // used when not empty
};

// The bytes of resource `id` of `type`, all its languages together; 0 when
// the file has no such resource, empty when it is not a PE file or its
// resource directory cannot be read.
[[nodiscard]] std::optional<std::uint64_t> ResourceBytes(const std::vector<std::uint8_t>& image,
                                                         const ResourceType& type, std::uint16_t id);

}  // namespace pechecksum
