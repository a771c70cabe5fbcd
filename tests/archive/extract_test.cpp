// Extraction to file names, to open handles and into memory: chunking and
// progress, folders, times, replaced files, and the results of the interface.
#include "archive/crc32.h"
#include "tests/support/files.h"
#include "tests/support/memory.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

using namespace support;

namespace {

std::vector<DWORD> g_counts[3];
int ProgressReturningZero(DWORD* count) {
    g_counts[0].push_back(*count);
    return 0;
}
int ProgressReturningOne(DWORD* count) {
    g_counts[1].push_back(*count);
    return 1;
}
int ProgressReturningMinusOne(DWORD* count) {
    g_counts[2].push_back(*count);
    return -1;
}

ArchiveResult ExtractTo(ArchiveHandle archive, int index, const std::string& target,
                        ExtractProgressFn progress = nullptr) {
    return ExtractArchiveItem(archive, index, const_cast<char*>(target.c_str()), 0, TargetFileName, progress);
}

struct FileTimes {
    std::uint64_t creation, access, write;
};

FileTimes TimesOf(const std::string& path) {
    FileTimes times{};
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return times;
    FILETIME c{}, a{}, w{};
    if (::GetFileTime(file, &c, &a, &w)) times = {Ticks(c), Ticks(a), Ticks(w)};
    ::CloseHandle(file);
    return times;
}

// Whether files in `folder` keep a creation time given to them (Wine on Linux
// file systems keeps only access and write times).
bool KeepsCreationTimes(const std::string& folder) {
    const std::string probe = folder + "\\probe.tmp";
    HANDLE file = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const FILETIME wanted{0x12345600u, 0x01D00000u};
    ::SetFileTime(file, &wanted, nullptr, nullptr);
    ::CloseHandle(file);
    const bool kept = TimesOf(probe).creation == Ticks(wanted);
    ::DeleteFileA(probe.c_str());
    return kept;
}

class Extraction : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& counts : g_counts) counts.clear();
    }
    TempFolder temp_;
};

}  // namespace

// A file is written in 16 KiB chunks, deflated and stored items alike, and
// each chunk is counted to the progress function, whatever it returns.
TEST_F(Extraction, ProgressCountsEveryChunk) {
    struct Case {
        packer::Method method;
        std::size_t size;
        std::vector<DWORD> counts;
    };
    std::vector<DWORD> large(75, 16384);
    large.push_back(2048);
    const Case cases[] = {{packer::Method::Deflate, 1230848, large},
                          {packer::Method::Stored, 40000, {16384, 16384, 7232}}};
    const ExtractProgressFn functions[3] = {ProgressReturningZero, ProgressReturningOne, ProgressReturningMinusOne};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method == packer::Method::Stored ? "stored" : "deflated");
        const Bytes data = PatternData(c.size, 11);
        const Bytes archive = packer::Pack({FileItem("Larkspan.exe", data, c.method)}).bytes;
        const UniqueArchive opened(OpenMemory(archive));
        ASSERT_TRUE(opened);
        for (int f = 0; f < 3; ++f) {
            g_counts[f].clear();
            const std::string target = temp_ / ("out" + std::to_string(f) + ".exe");
            ASSERT_EQ(ExtractTo(opened.get(), 0, target, functions[f]), ArchiveOk);
            EXPECT_EQ(ReadWholeFile(target), data);
            EXPECT_EQ(g_counts[f], c.counts) << "progress function " << f;
        }
    }
}

// A file gets its item's times and the folders missing above it; an empty item
// becomes an empty file with its times, without a progress call.
TEST_F(Extraction, FilesGetTheItemTimesAndMissingFolders) {
    const auto timed = [](const char* name, Bytes data, std::uint32_t write, std::uint32_t access,
                          std::uint32_t creation) {
        packer::Item item = FileItem(name, std::move(data));
        item.modificationTime = write;
        item.accessTime = access;
        item.creationTime = creation;
        return item;
    };
    const std::vector<packer::Item> items = {
        timed("deep.txt", PatternData(5000, 13), 1650000000, 1650000123, 1640000000),
        timed("empty.txt", {}, 1660000000, 1660000001, 1630000000)};
    const Bytes archive = packer::Pack(items).bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    const bool creationKept = KeepsCreationTimes(temp_.path());
    const char* const targets[] = {"a\\b\\c\\deep.txt", "x\\empty.txt"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(targets[i]);
        g_counts[0].clear();
        const std::string target = temp_ / targets[i];
        ASSERT_EQ(ExtractTo(opened.get(), i, target, ProgressReturningZero), ArchiveOk);
        const FileTimes times = TimesOf(target);  // before reading the data, which may touch the access time
        EXPECT_EQ(times.write, UnixTicks(items[i].modificationTime));
        EXPECT_EQ(times.access, UnixTicks(items[i].accessTime));
        if (creationKept) {
            EXPECT_EQ(times.creation, UnixTicks(items[i].creationTime));
        }
        EXPECT_TRUE(Exists(target));
        EXPECT_EQ(ReadWholeFile(target), items[i].data);
        EXPECT_EQ(g_counts[0], items[i].data.empty() ? std::vector<DWORD>{} : std::vector<DWORD>{5000});
    }
    EXPECT_TRUE(FolderExists(temp_ / "a\\b"));
}

TEST_F(Extraction, ReadOnlyTargetIsReplaced) {
    const Bytes archive = packer::Pack({FileItem("a.txt", PatternData(3000, 14))}).bytes;
    const std::string target = temp_ / "a.txt";
    ASSERT_TRUE(WriteWholeFile(target, Bytes(10, 'o')));
    ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    ASSERT_EQ(ExtractTo(opened.get(), 0, target), ArchiveOk);
    EXPECT_EQ(ReadWholeFile(target), PatternData(3000, 14));
    // The item's own attributes are never applied.
    EXPECT_EQ(::GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(Extraction, TargetThatCannotBeCreated) {
    const Bytes archive = packer::Pack({FileItem("a.txt", PatternData(30, 14))}).bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    ASSERT_TRUE(::CreateDirectoryA((temp_ / "folder").c_str(), nullptr));
    EXPECT_EQ(ExtractTo(opened.get(), 0, temp_ / "folder"), ArchiveErrOpenFile);  // a folder stands there
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, INVALID_HANDLE_VALUE, 0, TargetHandle, nullptr), ArchiveErrOpenFile);
}

TEST_F(Extraction, FolderItemsGoUnderTheBaseFolder) {
    const Bytes archive = packer::Pack({FolderItem("made/inner/"), FileItem("made/inner/f.txt", PatternData(9))}).bytes;
    TempFolder base;
    UniqueArchive opened;
    {
        CurrentDirectory inside(base.path());
        opened.reset(OpenMemory(archive));
    }
    ASSERT_TRUE(opened);
    const std::string target = temp_ / "elsewhere";
    ASSERT_EQ(ExtractTo(opened.get(), 0, target, ProgressReturningZero), ArchiveOk);
    EXPECT_TRUE(FolderExists(base / "made\\inner"));
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(g_counts[0].empty());
    // Mode 1 writes nothing for a folder item.
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, INVALID_HANDLE_VALUE, 0, TargetHandle, nullptr), ArchiveOk);
}

TEST_F(Extraction, StoredNameAsTargetIsTakenFromTheCurrentDirectory) {
    const Bytes archive = packer::Pack({FileItem("plain.txt", PatternData(700, 15))}).bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    {
        CurrentDirectory inside(temp_.path());
        EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, nullptr, 0, TargetFileName, nullptr), ArchiveOk);
        EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, const_cast<char*>(""), 0, TargetFileName, nullptr), ArchiveOk);
    }
    EXPECT_EQ(ReadWholeFile(temp_ / "plain.txt"), PatternData(700, 15));
}

TEST_F(Extraction, ToAnOpenDiskHandle) {
    const Bytes data = PatternData(20000, 16);
    packer::Item item = FileItem("h.bin", data);
    item.modificationTime = 1234567890;
    const Bytes archive = packer::Pack({item}).bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    const std::string path = temp_ / "handle.bin";
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file, "HEAD", 4, &written, nullptr));
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, file, 0, TargetHandle, ProgressReturningOne), ArchiveOk);
    EXPECT_EQ(::SetFilePointer(file, 0, nullptr, FILE_CURRENT), 20004u);  // left open, after the data
    FILETIME c{}, a{}, w{};
    ASSERT_TRUE(::GetFileTime(file, &c, &a, &w));
    EXPECT_EQ(Ticks(w), UnixTicks(1234567890));
    ::CloseHandle(file);
    Bytes expected = {'H', 'E', 'A', 'D'};
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(ReadWholeFile(path), expected);
    EXPECT_EQ(g_counts[1], (std::vector<DWORD>{16384, 3616}));
}

TEST_F(Extraction, ToAPipe) {
    const Bytes data = PatternData(3000, 17);
    const Bytes archive = packer::Pack({FileItem("p.bin", data)}).bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 65536));
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, writeEnd, 0, TargetHandle, ProgressReturningZero), ArchiveOk);
    EXPECT_EQ(g_counts[0], std::vector<DWORD>{3000});
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(writeEnd, "!", 1, &written, nullptr));  // still open
    ::CloseHandle(writeEnd);
    Bytes got;
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) got.insert(got.end(), buffer, buffer + n);
    ::CloseHandle(readEnd);
    Bytes expected = data;
    expected.push_back('!');
    EXPECT_EQ(got, expected);
}

TEST_F(Extraction, MemoryPiecesRestartAndEnd) {
    const Bytes data = PatternData(3500, 18);
    const Bytes archive = packer::Pack({FileItem("License.rtf", data), FileItem("other", PatternData(50, 1))}).bytes;
    GuardedBlock block(archive.size(), archive);
    UniqueArchive opened(OpenArchive(block.data(), static_cast<DWORD>(block.size()), SourceMemory));
    ASSERT_TRUE(opened);
    GuardedBlock piece(1000);
    Bytes got;
    ArchiveResult result = ArchiveMoreData;
    int calls = 0;
    while ((result = ExtractArchiveItem(opened.get(), 0, piece.data(), 1000, TargetMemory, nullptr)) ==
           ArchiveMoreData) {
        const std::size_t n = std::min<std::size_t>(1000, data.size() - got.size());
        got.insert(got.end(), piece.data(), piece.data() + n);
        ASSERT_LT(++calls, 10);
    }
    EXPECT_EQ(result, ArchiveOk);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(got, data);

    // A record read between two calls starts the item again.
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, piece.data(), 1000, TargetMemory, nullptr), ArchiveMoreData);
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, piece.data(), 1000, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(0, std::memcmp(piece.data(), data.data() + 1000, 1000));
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(opened.get(), 1, &item), ArchiveOk);
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, piece.data(), 1000, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(0, std::memcmp(piece.data(), data.data(), 1000));

    // Length 0 ends the item; the next call starts it again.
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, piece.data(), 0, TargetMemory, nullptr), ArchiveOk);
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, piece.data(), 1000, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(0, std::memcmp(piece.data(), data.data(), 1000));

    // Another index abandons the first item.
    GuardedBlock small(50);
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 1, small.data(), 50, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(0, std::memcmp(small.data(), PatternData(50, 1).data(), 50));

    // A buffer of exactly the item's size: everything in the first call.
    GuardedBlock exact(data.size());
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, exact.data(), static_cast<DWORD>(data.size()), TargetMemory, nullptr),
              ArchiveMoreData);
    EXPECT_EQ(0, std::memcmp(exact.data(), data.data(), data.size()));
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, exact.data(), static_cast<DWORD>(data.size()), TargetMemory, nullptr),
              ArchiveOk);
    // Closing with a memory extraction under way.
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, piece.data(), 1000, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(CloseArchive(opened.release()), ArchiveOk);
}

TEST_F(Extraction, ArgumentAndHandleKindErrors) {
    const Bytes archive = packer::Pack({FileItem("a", PatternData(10)), FileItem("b", PatternData(10)),
                                        FileItem("c", PatternData(10))})
                              .bytes;
    ArchiveItem item;
    char buffer[16];
    EXPECT_EQ(GetArchiveItem(nullptr, 0, &item), ArchiveErrArgument);
    EXPECT_EQ(ExtractArchiveItem(nullptr, 0, buffer, 16, TargetMemory, nullptr), ArchiveErrArgument);
    EXPECT_EQ(CloseArchive(nullptr), ArchiveErrArgument);

    UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    ArchiveHandleRecord other{2, opened->state};
    EXPECT_EQ(GetArchiveItem(&other, 0, &item), ArchiveErrHandleKind);
    EXPECT_EQ(ExtractArchiveItem(&other, 0, buffer, 16, TargetMemory, nullptr), ArchiveErrHandleKind);
    EXPECT_EQ(CloseArchive(&other), ArchiveErrHandleKind);

    for (int mode : {0, 4, -1})
        EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, buffer, 16, mode, nullptr), ArchiveErrArgument);
    const std::string target = temp_ / "x";
    for (int index : {3, -1}) {
        EXPECT_EQ(ExtractArchiveItem(opened.get(), index, buffer, 16, TargetMemory, nullptr), ArchiveErrArgument);
        EXPECT_EQ(ExtractTo(opened.get(), index, target), ArchiveErrArgument);
        EXPECT_EQ(ExtractArchiveItem(opened.get(), index, INVALID_HANDLE_VALUE, 0, TargetHandle, nullptr),
                  ArchiveErrArgument);
    }
    EXPECT_EQ(GetArchiveItem(opened.get(), 0, nullptr), ArchiveErrArgument);
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, nullptr, 16, TargetMemory, nullptr), ArchiveErrArgument);
    EXPECT_FALSE(Exists(target));
    // The handle is still usable after all of that.
    ASSERT_EQ(ExtractArchiveItem(opened.get(), 2, buffer, 16, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(0, std::memcmp(buffer, PatternData(10).data(), 10));
    EXPECT_EQ(CloseArchive(opened.release()), ArchiveOk);
}

// The item data's CRC-32 against zlib's, started fresh and continued: every
// length up to 4 KiB (zlib's own below 128 bytes, the 128-bit folding up to
// 255, the 256-bit one beyond where the processor has it; each number of
// 16-byte steps and each tail of 0..15 bytes) and random lengths up to 1 MiB,
// each at all 16 alignments.
TEST(ItemCrc32, MatchesZlibForEveryLengthAndAlignment) {
    constexpr std::size_t kMiB = 1u << 20;
    constexpr std::size_t kAlignments = 16;
    constexpr std::size_t kEveryLengthUpTo = 4096;
    constexpr int kRandomLengths = 6;
    std::mt19937 random(20261208);
    std::vector<std::uint8_t> bytes(kMiB + kAlignments);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= kEveryLengthUpTo; ++n) lengths.push_back(n);
    for (int i = 0; i < kRandomLengths; ++i) lengths.push_back(random() % (kMiB + 1));
    lengths.push_back(kMiB);
    int mismatches = 0;
    for (std::size_t alignment = 0; alignment < kAlignments; ++alignment) {
        const std::uint8_t* data = bytes.data() + alignment;
        for (std::size_t length : lengths) {
            const std::uint32_t start = length % 2 == 0 ? 0 : static_cast<std::uint32_t>(random());
            const auto expected = static_cast<std::uint32_t>(crc32(start, data, static_cast<uInt>(length)));
            const std::uint32_t got = UpdateCrc32(start, data, length);
            if (got != expected && ++mismatches <= 5) {
                ADD_FAILURE() << length << " bytes at offset " << alignment << " from 0x" << std::hex << start << ": 0x"
                              << got << ", zlib 0x" << expected
                              << (Crc32UsesCarrylessMultiply() ? " (folding)" : " (zlib's own)");
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(UpdateCrc32(0x12345678u, nullptr, 0), 0u) << "a null pointer starts a CRC, as in zlib";
}
