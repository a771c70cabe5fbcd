#include "tests/support/memory.h"

#include <algorithm>
#include <cstring>

namespace support {

GuardedBlock::GuardedBlock(std::size_t size, const Bytes& contents, bool readOnly)
    : GuardedBlock(nullptr, size, false) {
    if (data_ != nullptr && !contents.empty()) std::memcpy(data_, contents.data(), std::min(size, contents.size()));
    DWORD old = 0;
    if (readOnly && data_ != nullptr && size != 0) ::VirtualProtect(data_, size, PAGE_READONLY, &old);
}

GuardedBlock::GuardedBlock(const std::uint8_t* bytes, std::size_t size, bool readOnly) : size_(size) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    const std::size_t dataPages = (size + page - 1) / page;
    base_ = ::VirtualAlloc(nullptr, (dataPages + 2) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base_ == nullptr) return;
    auto* first = static_cast<std::uint8_t*>(base_);
    DWORD old = 0;
    ::VirtualProtect(first, page, PAGE_NOACCESS, &old);
    ::VirtualProtect(first + (dataPages + 1) * page, page, PAGE_NOACCESS, &old);
    data_ = first + (dataPages + 1) * page - size;
    if (bytes != nullptr && size != 0) std::memcpy(data_, bytes, size);
    if (readOnly && dataPages != 0) ::VirtualProtect(first + page, dataPages * page, PAGE_READONLY, &old);
}

GuardedBlock::~GuardedBlock() {
    if (base_ != nullptr) ::VirtualFree(base_, 0, MEM_RELEASE);
}

ArchiveHandle OpenMemory(const Bytes& bytes) {
    return OpenArchive(bytes.data(), static_cast<DWORD>(bytes.size()), SourceMemory);
}

}  // namespace support
