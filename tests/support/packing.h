// Items and packed archives for tests: file and folder items with known times,
// and where the fields of a packed item's headers lie. Free of Windows headers
// (the native fixture and benchmark-archive generators build it too).
#pragma once

#include "tests/support/bytes.h"
#include "tools/packer/zip_packer.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace support {

// Unix times of an item.
struct ItemTimes {
    std::uint32_t modification;
    std::uint32_t access;
    std::uint32_t creation;
};
// 2023-11-14 22:13:20 UTC, 100 s later, and 2020-09-13 12:26:40 UTC: three distinct times.
inline constexpr ItemTimes kItemTimes{1700000000, 1700000100, 1600000000};

packer::Item FileItem(const std::string& name, Bytes data, packer::Method method = packer::Method::Deflate,
                      const ItemTimes& times = kItemTimes);
packer::Item FolderItem(const std::string& name);

// Offsets of fields inside the headers of a packed item.
constexpr std::size_t LocalCrc = 14, LocalCompressed = 18, LocalUncompressed = 22;
constexpr std::size_t CentralCrc = 16, CentralCompressed = 20, CentralUncompressed = 24;
constexpr std::size_t CentralNameLength = 28;

}  // namespace support
