// Helpers shared by the archive tests: temporary and current folders, whole-file reads and
// writes, memory blocks that end at a no-access page, fixture data and byte
// patching of packed archives.
#pragma once

#include "archive/archive.h"
#include "tools/packer/zip_packer.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace archive_test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with all its
// contents (read-only files included) when the object ends.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    [[nodiscard]] const std::string& path() const { return path_; }
    // path() joined with `relative` by a backslash.
    [[nodiscard]] std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// Makes path the process's current directory for the object's lifetime.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& path) {
        ::GetCurrentDirectoryA(MAX_PATH, saved_);
        ::SetCurrentDirectoryA(path.c_str());
    }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    ~CurrentDirectory() { ::SetCurrentDirectoryA(saved_); }

private:
    char saved_[MAX_PATH] = {};
};

void RemoveTree(const std::string& path);
bool WriteWholeFile(const std::string& path, const Bytes& bytes);
Bytes ReadWholeFile(const std::string& path);
bool IsFolder(const std::string& path);
bool Exists(const std::string& path);

// `size` bytes whose last byte sits just before a PAGE_NOACCESS page, so any
// read or write past the end faults.
class GuardedBlock {
public:
    explicit GuardedBlock(std::size_t size);
    GuardedBlock(std::size_t size, const Bytes& contents);
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    ~GuardedBlock();
    [[nodiscard]] std::uint8_t* data() const { return data_; }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    void* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Deterministic data that compresses to somewhere between text and noise.
Bytes PatternData(std::size_t size, std::uint32_t seed = 1);

packer::Item FileItem(const std::string& name, Bytes data, packer::Method method = packer::Method::Deflate);
packer::Item FolderItem(const std::string& name);

void Put16(Bytes& bytes, std::size_t offset, std::uint32_t value);
void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t Get32(const Bytes& bytes, std::size_t offset);

// Offsets of fields inside the headers of a packed item.
constexpr std::size_t LocalCrc = 14, LocalCompressed = 18, LocalUncompressed = 22;
constexpr std::size_t CentralCrc = 16, CentralCompressed = 20, CentralUncompressed = 24;
constexpr std::size_t CentralNameLength = 28;

// The FILETIME as one 64-bit number.
std::uint64_t Ticks(const FILETIME& time);
// The FILETIME of a Unix time.
std::uint64_t UnixTicks(std::uint32_t seconds);
// The FILETIME the DOS date and time of a Unix time stands for (no zone applied).
std::uint64_t DosTicks(std::uint32_t seconds);

// Opens an archive over `bytes` in memory (which must outlive the handle).
ArchiveHandle OpenMemory(const Bytes& bytes);

}  // namespace archive_test
