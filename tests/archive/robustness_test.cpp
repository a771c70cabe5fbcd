// Every prefix of a small archive (from memory that ends at a no-access page,
// and from a file), every prefix of its items behind an intact directory, and every single-byte change of its central
// directory and end record (from memory), walked with all four operations: only defined results, no fault, no hang.
#include "tests/support/files.h"
#include "tests/support/memory.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace support;

namespace {

const packer::Packed& Fixture() {
    static const packer::Packed packed = [] {
        packer::Item described = FileItem("d/described.bin", PatternData(700, 32));
        described.dataDescriptor = true;
        return packer::Pack({FileItem("program.exe", PatternData(900, 31)), FolderItem("d/"),
                             FileItem("d/stored.txt", PatternData(120, 33), packer::Method::Stored), described});
    }();
    return packed;
}

class Walker {
public:
    Walker() : piece_(64), inside_(temp_.path()) {
        output_ = ::CreateFileA((temp_ / "mode1.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    }
    ~Walker() { ::CloseHandle(output_); }

    // Walks one archive image with every operation; an undefined result fails the test.
    void Walk(const std::uint8_t* block, std::size_t size, bool withFiles) {
        Walk(OpenArchive(block, static_cast<DWORD>(size), SourceMemory), withFiles);
    }
    // The same image read from a file through a handle.
    void WalkFile(const std::uint8_t* block, std::size_t size) {
        const std::string path = temp_ / "image.zip";
        ASSERT_TRUE(WriteWholeFile(path, Bytes(block, block + size)));
        Walk(OpenArchive(path.c_str(), 0, SourceFileName), false);
    }
    void Walk(ArchiveHandle archive, bool withFiles) {
        if (archive == nullptr) return;
        ++opened_;
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(archive, -1, &item), ArchiveOk);
        const int count = std::min(item.index, 6);
        for (int i = -1; i <= count; ++i) {
            Expect(GetArchiveItem(archive, i, &item),
                   {ArchiveOk, ArchiveErrItemHeader, ArchiveErrItemRead, ArchiveErrArgument});
        }
        for (int i = 0; i < count; ++i) {
            ArchiveResult result = ArchiveMoreData;
            int calls = 0;
            while (result == ArchiveMoreData) {
                result = ExtractArchiveItem(archive, i, piece_.data(), 64, TargetMemory, nullptr);
                Expect(result, {ArchiveMoreData, ArchiveOk, ArchiveErrMemoryExtract});
                ASSERT_LT(++calls, 2000) << "memory extraction does not end";
            }
            ::SetFilePointer(output_, 0, nullptr, FILE_BEGIN);
            Expect(ExtractArchiveItem(archive, i, output_, 0, TargetHandle, nullptr),
                   {ArchiveOk, ArchiveErrExtract, ArchiveErrItemHeader, ArchiveErrItemRead});
            if (withFiles) {
                std::string target = temp_ / "out\\file.bin";
                Expect(ExtractArchiveItem(archive, i, target.data(), 0, TargetFileName, nullptr),
                       {ArchiveOk, ArchiveErrExtract, ArchiveErrOpenFile, ArchiveErrItemHeader, ArchiveErrItemRead});
            }
        }
        // Leave a memory extraction under way for the close.
        if (count > 0) static_cast<void>(ExtractArchiveItem(archive, 0, piece_.data(), 64, TargetMemory, nullptr));
        ASSERT_EQ(CloseArchive(archive), ArchiveOk);
    }
    [[nodiscard]] int opened() const { return opened_; }

private:
    static void Expect(ArchiveResult result, std::initializer_list<ArchiveResult> allowed) {
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), result), allowed.end()) << std::hex << result;
    }

    TempFolder temp_;
    GuardedBlock piece_;
    CurrentDirectory inside_;  // damaged folder items land inside the temporary folder
    HANDLE output_ = INVALID_HANDLE_VALUE;
    int opened_ = 0;
};

}  // namespace

TEST(Robustness, EveryPrefix) {
    const packer::Packed& packed = Fixture();
    const Bytes& archive = packed.bytes;
    Walker walker;
    // The prefix alone: its end record is missing, so only the whole archive opens.
    for (std::size_t length = 0; length <= archive.size(); ++length) {
        GuardedBlock block(length, archive);
        walker.Walk(block.data(), length, true);
        walker.WalkFile(block.data(), length);
        ASSERT_EQ(walker.opened(), length < archive.size() ? 0 : 2) << "prefix of " << length << " bytes";
        if (::testing::Test::HasFatalFailure()) FAIL() << "prefix of " << length << " bytes";
    }
    // Every prefix of the items' area behind an intact directory, the rest of
    // the area lost: it opens, and every item gives a defined result.
    GuardedBlock block(archive.size(), archive);
    for (std::size_t length = 0; length < packed.centralDirectoryOffset; ++length) {
        std::copy(archive.begin(), archive.end(), block.data());
        std::fill(block.data() + length, block.data() + packed.centralDirectoryOffset, std::uint8_t{0});
        walker.Walk(block.data(), archive.size(), length % 64 == 0);
        ASSERT_EQ(walker.opened(), static_cast<int>(length) + 3) << "items cut after " << length << " bytes";
        if (::testing::Test::HasFatalFailure()) FAIL() << "items cut after " << length << " bytes";
    }
}

TEST(Robustness, EverySingleByteChangeOfTheDirectory) {
    const packer::Packed& packed = Fixture();
    const Bytes& archive = packed.bytes;
    GuardedBlock block(archive.size(), archive);
    Walker walker;
    for (std::size_t at = packed.centralDirectoryOffset; at < archive.size(); ++at) {
        const std::uint8_t original = archive[at];
        for (int value = 0; value < 256; ++value) {
            if (value == original) continue;
            block.data()[at] = static_cast<std::uint8_t>(value);
            walker.Walk(block.data(), archive.size(), value == (original ^ 0xFF));
            if (::testing::Test::HasFatalFailure()) FAIL() << "byte " << at << " set to " << value;
        }
        block.data()[at] = original;
    }
    EXPECT_GT(walker.opened(), 0);
}
