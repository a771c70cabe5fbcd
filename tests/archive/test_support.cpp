#include "tests/archive/test_support.h"

#include <cstring>
#include <fstream>

namespace archive_test {

TempFolder::TempFolder() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        wsprintfA(name, "%slarkspan-test-%lu-%u", base, ::GetCurrentProcessId(), ++counter);
        if (::CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(child);
            } else {
                ::DeleteFileA(child.c_str());
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

bool WriteWholeFile(const std::string& path, const Bytes& bytes) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

Bytes ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

GuardedBlock::GuardedBlock(std::size_t size) : size_(size) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    const std::size_t pages = (size + page - 1) / page;
    const std::size_t total = (pages + 1) * page;
    base_ = ::VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    auto* start = static_cast<std::uint8_t*>(base_);
    DWORD previous = 0;
    ::VirtualProtect(start + pages * page, page, PAGE_NOACCESS, &previous);
    data_ = start + pages * page - size;
}

GuardedBlock::GuardedBlock(std::size_t size, const Bytes& contents) : GuardedBlock(size) {
    std::memcpy(data_, contents.data(), contents.size() < size ? contents.size() : size);
}

GuardedBlock::~GuardedBlock() { ::VirtualFree(base_, 0, MEM_RELEASE); }

Bytes PatternData(std::size_t size, std::uint32_t seed) {
    Bytes data(size);
    std::uint32_t state = seed * 2654435761u + 1;
    static const char words[] = "larkspan orvane setup archive item folder ";
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        // Mostly words, with a sprinkling of noise so deflate has real work.
        data[i] = (state >> 28) < 3 ? static_cast<std::uint8_t>(state >> 16)
                                    : static_cast<std::uint8_t>(words[(i + (state >> 30)) % (sizeof words - 1)]);
    }
    return data;
}

packer::Item FileItem(const std::string& name, Bytes data, packer::Method method) {
    packer::Item item;
    item.name = name;
    item.data = std::move(data);
    item.method = method;
    item.modificationTime = 1700000000;  // 2023-11-14 22:13:20 UTC
    item.accessTime = 1700000100;
    item.creationTime = 1600000000;
    return item;
}

packer::Item FolderItem(const std::string& name) {
    packer::Item item = FileItem(name, {}, packer::Method::Stored);
    item.folder = true;
    return item;
}

void Put16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    Put16(bytes, offset, value & 0xFFFF);
    Put16(bytes, offset + 2, value >> 16);
}

std::uint32_t Get32(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint64_t Ticks(const FILETIME& time) {
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t UnixTicks(std::uint32_t seconds) {
    return 116444736000000000ull + static_cast<std::uint64_t>(seconds) * 10000000ull;
}

std::uint64_t DosTicks(std::uint32_t seconds) {
    const std::uint32_t dos = packer::DosDateTime(seconds);
    FILETIME time{};
    ::DosDateTimeToFileTime(static_cast<WORD>(dos >> 16), static_cast<WORD>(dos), &time);
    return Ticks(time);
}

ArchiveHandle OpenMemory(const Bytes& bytes) {
    return OpenArchive(bytes.data(), static_cast<DWORD>(bytes.size()), SourceMemory);
}

}  // namespace archive_test
