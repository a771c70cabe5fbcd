// Mutation campaign over the archive reader: packed fixtures (stored, deflate,
// data descriptor, folders, several items) are mutated, opened from a memory
// block that ends at a no-access page, and put through every operation:
// item records, extraction to a handle, to a file name (into the sandbox) and
// into memory (buffers fenced the same way), and a random sequence of calls.
//
// Checks: no crash, no hang, only results the interface defines, nothing
// written outside the sandbox, a damaged item never reported as ArchiveOk (the
// delivered bytes always have the size and CRC-32 that the directory entry
// claims, and equal the original when the mutation left the item's central
// entry, the entries before it, the end record, its local header and its data
// alone), no item delivered whose bytes overlap another entry's, names that the
// system would turn into a device or another file refused (and never handed to
// an extraction otherwise: COM1 can be a real port), and no handle or GDI
// object growth over the run.
#include "archive/archive.h"
#include "archive/stored_name.h"
#include "setup/item_target.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/packing.h"
#include "tools/packer/zip_packer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using fuzz::Bytes;
using fuzz::Range;
using support::FileItem;
using support::FolderItem;
using support::Get16;
using support::Get32;
using support::NoiseData;
using support::PatternData;

// --- Seeds -----------------------------------------------------------------------------

struct Seed {
    std::string name;
    std::vector<packer::Item> items;
    packer::Packed packed;
    // Per item, in seed coordinates: the central entry (and every entry before
    // it, which the directory walk passes), and the local header with the data.
    std::vector<Range> centralUpTo;
    std::vector<Range> local;
    Range endRecord;
    std::vector<std::size_t> hotSpots;
};

Seed MakeSeed(const std::string& name, std::vector<packer::Item> items) {
    Seed seed;
    seed.name = name;
    seed.items = std::move(items);
    seed.packed = packer::Pack(seed.items);
    const packer::Packed& p = seed.packed;
    seed.endRecord = {p.endRecordOffset, p.bytes.size()};
    for (std::size_t i = 0; i < p.items.size(); ++i) {
        const packer::ItemLayout& l = p.items[i];
        const std::size_t centralEnd = i + 1 < p.items.size() ? p.items[i + 1].centralHeaderOffset
                                                              : p.centralDirectoryOffset + p.centralDirectorySize;
        seed.centralUpTo.push_back({p.centralDirectoryOffset, centralEnd});
        seed.local.push_back({l.localHeaderOffset, l.dataOffset + l.compressedSize});
        for (std::size_t at : {static_cast<std::size_t>(l.localHeaderOffset), static_cast<std::size_t>(l.dataOffset),
                               static_cast<std::size_t>(l.centralHeaderOffset)}) {
            seed.hotSpots.push_back(at);
        }
        if (l.compressedSize > 16) seed.hotSpots.push_back(l.dataOffset + l.compressedSize - 16);
    }
    seed.hotSpots.push_back(p.endRecordOffset);
    return seed;
}

const std::vector<Seed>& Seeds() {
    static const std::vector<Seed> seeds = [] {
        std::vector<Seed> s;
        s.push_back(MakeSeed("stored", {FileItem("stored.txt", PatternData(3000, 1), packer::Method::Stored)}));
        s.push_back(MakeSeed(
            "deflate", {FileItem("program.exe", PatternData(40000, 2)), FileItem("noise.bin", NoiseData(20000, 3))}));
        packer::Item described = FileItem("described.txt", PatternData(9000, 4));
        described.dataDescriptor = true;
        packer::Item describedStored = FileItem("described.bin", NoiseData(700, 5), packer::Method::Stored);
        describedStored.dataDescriptor = true;
        s.push_back(MakeSeed("descriptor", {described, describedStored}));
        s.push_back(MakeSeed(
            "folders", {FileItem("Program.exe", PatternData(2000, 6)), FolderItem("docs/"), FolderItem("docs/sub/"),
                        FileItem("docs/readme.txt", PatternData(500, 7), packer::Method::Stored),
                        FileItem("docs/sub/notes.txt", PatternData(1200, 8))}));
        packer::Item withExtra = FileItem("extra.txt", PatternData(300, 9));
        withExtra.localExtraBefore = {0x41, 0x42, 0x04, 0x00, 1, 2, 3, 4};
        // Names the system reads as devices or changes, and equally long names
        // for entries made to share a local header.
        s.push_back(
            MakeSeed("hostile names",
                     {FileItem("CON", PatternData(100, 13)), FileItem("docs/nul.txt", PatternData(200, 14)),
                      FileItem("aux/readme.txt", {}), FileItem("Com1", PatternData(50, 15), packer::Method::Stored),
                      FileItem("CONIN$", {}), FileItem("conout$.txt", {}), FileItem("LPT\xB2.txt", PatternData(70, 16)),
                      FileItem("PRN. ", {}), FileItem("readme.txt.", PatternData(30, 17)), FileItem("notes ", {}),
                      FolderItem("NUL/"), FileItem("COM3 .x", {})}));
        s.push_back(
            MakeSeed("twins", {FileItem("one.txt", PatternData(3000, 18)), FileItem("two.txt", PatternData(3000, 18)),
                               FileItem("six.txt", NoiseData(900, 19), packer::Method::Stored)}));
        s.push_back(MakeSeed("several", {FileItem("Larkspan.exe", PatternData(17000, 10)), FileItem("empty.txt", {}),
                                         FileItem("big-stored.bin", NoiseData(33000, 11), packer::Method::Stored),
                                         withExtra, FileItem("License.rtf", PatternData(5000, 12))}));
        return s;
    }();
    return seeds;
}

// --- Hostile names and entries ------------------------------------------------------------

// Names the shared name rule must refuse: a component that ends in a dot or a
// blank, or whose part before its first dot, trailing blanks left out, is a
// device name (B9, B2, B3: the superscript digits, as ANSI bytes).
bool IsHostileName(const std::string& name) {
    for (std::size_t start = 0, end = 0; start < name.size(); start = end + 1) {
        end = std::min(name.find_first_of("/\\", start), name.size());
        if (end > start && (name[end - 1] == '.' || name[end - 1] == ' ')) return true;
        std::string base = name.substr(start, std::min(name.find('.', start), end) - start);
        while (!base.empty() && base.back() == ' ') base.pop_back();
        for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
            if (base == device) return true;
        }
        const auto digit = static_cast<unsigned char>(base.size() == 4 ? base[3] : 0);
        if ((base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
            ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)) {
            return true;
        }
    }
    return false;
}

// Makes entry j share entry k's local header (method, CRC-32, sizes and
// offset copied, in seed coordinates) when their names are equally long; the
// range it overwrote, or an empty one.
Range ShareALocalHeader(Bytes& bytes, const Seed& seed, fuzz::Random& random) {
    const std::size_t j = random.Below(static_cast<std::uint32_t>(seed.items.size()));
    const std::size_t k = random.Below(static_cast<std::uint32_t>(seed.items.size()));
    if (j == k || seed.items[j].name.size() != seed.items[k].name.size() || !random.OneIn(4)) return {};
    const std::size_t from = seed.packed.items[k].centralHeaderOffset, to = seed.packed.items[j].centralHeaderOffset;
    std::copy(bytes.begin() + from + 10, bytes.begin() + from + 28, bytes.begin() + to + 10);
    std::copy(bytes.begin() + from + 42, bytes.begin() + from + 46, bytes.begin() + to + 42);
    return {to + 10, to + 46};
}

// --- What the directory claims, read independently of the reader ---------------------------

struct Claim {
    bool known = false;
    std::uint32_t crc = 0;
    std::uint32_t uncompressedSize = 0;
    // The least bytes the item covers: local header, name and data.
    std::uint32_t headerOffset = 0;
    std::uint64_t leastEnd = 0;
};

// What entry i claims, found the way the format defines: the end record
// nearest the end within 65,535 bytes, then entry after entry. The first
// `wanted` entries, followed by every further entry the walk reaches.
std::vector<Claim> ReadClaims(const Bytes& bytes, std::size_t wanted) {
    std::vector<Claim> claims(wanted);
    const std::size_t size = bytes.size();
    if (size < 22) return claims;
    const std::size_t reach = std::min<std::size_t>(0xFFFF, size);
    std::size_t end = 0;
    for (std::size_t q = size - 4 + 1; q-- > size - reach;) {
        if (bytes[q] == 0x50 && bytes[q + 1] == 0x4B && bytes[q + 2] == 0x05 && bytes[q + 3] == 0x06) {
            end = q;
            break;
        }
    }
    if (end == 0 || end + 22 > size) return claims;
    if (Get16(bytes, end + 4) != 0 || Get16(bytes, end + 6) != 0 || Get16(bytes, end + 8) != Get16(bytes, end + 10)) {
        return claims;
    }
    const std::uint32_t count = Get16(bytes, end + 8);
    const std::uint64_t directoryEnd = static_cast<std::uint64_t>(Get32(bytes, end + 16)) + Get32(bytes, end + 12);
    if (end < directoryEnd) return claims;
    const auto before = static_cast<std::uint32_t>(end - directoryEnd);
    std::uint32_t cursor = Get32(bytes, end + 16);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t at = cursor + before;
        if (static_cast<std::uint64_t>(at) + 46 > size || Get32(bytes, at) != 0x02014B50) break;
        if (i >= wanted) claims.emplace_back();
        Claim& claim = claims[i];
        claim.known = true;
        claim.crc = Get32(bytes, at + 16);
        claim.uncompressedSize = Get32(bytes, at + 24);
        claim.headerOffset = Get32(bytes, at + 42);
        claim.leastEnd = std::uint64_t{claim.headerOffset} + 30 + Get16(bytes, at + 28) + Get32(bytes, at + 20);
        cursor += 46 + Get16(bytes, at + 28) + Get16(bytes, at + 30) + Get16(bytes, at + 32);
    }
    return claims;
}

// --- One case -----------------------------------------------------------------------------------

std::uint64_t g_progressBytes = 0;
int CountProgress(DWORD* written) {
    g_progressBytes += *written;
    return 0;
}

constexpr int kItemsWalked = 12;

// What an extraction to a file (by handle or by name) may return for an item in range.
const std::initializer_list<ArchiveResult> kFileResults = {ArchiveOk, ArchiveErrOpenFile, ArchiveErrExtract,
                                                           ArchiveErrItemHeader, ArchiveErrItemRead};

// How far the cases got, so that a campaign that never opens anything shows.
struct Reach {
    std::uint64_t opened = 0;
    std::uint64_t extracted = 0;  // extractions that returned ArchiveOk with data checked
};
Reach g_reach;  // items beyond these are only reached by the random calls

class ArchiveCase {
public:
    ArchiveCase(const Seed& seed, const Bytes& bytes, const fuzz::MutationRecord& mutation,
                const fuzz::Sandbox& sandbox, fuzz::Random& random)
        : seed_(seed), bytes_(bytes), mutation_(mutation), sandbox_(sandbox), random_(random) {}

    // Problems found, empty when the case passed.
    std::string Run() {
        fuzz::GuardedBlock block(bytes_.data(), bytes_.size(), true);
        if (!block.ok()) return "no memory for the fenced block";
        ArchiveHandle archive = OpenArchive(block.data(), static_cast<DWORD>(block.size()), SourceMemory);
        if (archive == nullptr) return problems_;
        ++g_reach.opened;
        ArchiveItem item;
        Expect("count", GetArchiveItem(archive, -1, &item), {ArchiveOk});
        const int count = item.index;
        if (count < 0 || count > 0xFFFF) Problem("item count " + std::to_string(count));
        claims_ = ReadClaims(bytes_, static_cast<std::size_t>(std::max(0, std::min(count, kItemsWalked))));
        Expect("record -2", GetArchiveItem(archive, -2, &item), {ArchiveErrArgument});
        Expect("record past the end", GetArchiveItem(archive, count, &item), {ArchiveErrArgument});
        Expect("memory past the end", ExtractArchiveItem(archive, count, piece_, 1, TargetMemory, nullptr),
               {ArchiveErrArgument});
        Expect("mode 4", ExtractArchiveItem(archive, 0, nullptr, 0, 4, nullptr), {ArchiveErrArgument});

        for (int i = 0; i < count && i < kItemsWalked; ++i) WalkItem(archive, i);
        for (int k = 0; k < 8; ++k) RandomCall(archive, count);
        Expect("close", CloseArchive(archive), {ArchiveOk});
        return problems_;
    }

private:
    void Problem(const std::string& text) { problems_ += text + "; "; }

    void Expect(const std::string& what, ArchiveResult result, std::initializer_list<ArchiveResult> allowed) {
        if (std::find(allowed.begin(), allowed.end(), result) == allowed.end()) {
            char text[32];
            std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(result));
            Problem(what + " gave " + text);
        }
    }

    // Whether item i is, byte for byte, the seed's item i.
    bool Pristine(int i) const {
        if (static_cast<std::size_t>(i) >= seed_.items.size()) return false;
        return mutation_.Untouched(seed_.endRecord) && mutation_.Untouched(seed_.centralUpTo[i]) &&
               mutation_.Untouched(seed_.local[i]);
    }

    // What a successful extraction delivered must be what the directory claims.
    void CheckDelivered(const std::string& what, int i, const Bytes& delivered, const ArchiveItem* record) {
        ++g_reach.extracted;
        const Claim claim = static_cast<std::size_t>(i) < claims_.size() ? claims_[i] : Claim{};
        if (record != nullptr && delivered.size() != record->uncompressedSize) {
            Problem(what + ": ArchiveOk with " + std::to_string(delivered.size()) + " bytes, record says " +
                    std::to_string(record->uncompressedSize));
        }
        if (claim.known) {
            uLong crc = crc32(0L, Z_NULL, 0);
            if (!delivered.empty()) crc = crc32(crc, delivered.data(), static_cast<uInt>(delivered.size()));
            if (delivered.size() != claim.uncompressedSize || crc != claim.crc) {
                Problem(what + ": ArchiveOk for data that does not match the directory's size and CRC-32");
            }
        }
        if (Pristine(i) && delivered != seed_.items[i].data) Problem(what + ": untouched item delivered other bytes");
        for (std::size_t j = 0; claim.known && j < claims_.size(); ++j) {
            const Claim& other = claims_[j];
            if (j != static_cast<std::size_t>(i) && other.known &&
                (other.headerOffset == claim.headerOffset ||
                 (other.headerOffset < claim.leastEnd && claim.headerOffset < other.leastEnd))) {
                Problem(what + ": ArchiveOk for an item that shares bytes with entry " + std::to_string(j));
                break;
            }
        }
    }

    // Whether an extraction by this name may run. A name the system would turn
    // into a device or another file must be refused by the shared name rule;
    // while the rule accepts one, the campaign reports it and never extracts it.
    bool MayExtractByName(const std::string& what, const char* name) {
        if (!IsHostileName(name) || !StoredNameStaysInside(name)) return true;
        Problem(what + ": the name rule accepts \"" + name + "\"");
        return false;
    }

    void WalkItem(ArchiveHandle archive, int i) {
        const std::string at = "item " + std::to_string(i);
        ArchiveItem record;
        std::memset(&record, 0xCD, sizeof record);
        const ArchiveResult got = GetArchiveItem(archive, i, &record);
        Expect(at + " record", got, {ArchiveOk, ArchiveErrItemHeader, ArchiveErrItemRead});
        const bool known = got == ArchiveOk;
        if (known && std::memchr(record.name, 0, sizeof record.name) == nullptr) Problem(at + ": name not terminated");
        if (known && Pristine(i) && record.uncompressedSize != seed_.items[i].data.size()) {
            Problem(at + ": untouched item reports another size");
        }
        const bool folder = known && (record.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

        // Into memory, in pieces of a drawn size.
        ExtractToMemory(archive, i, known ? &record : nullptr);

        // To a handle.
        {
            const std::string path = sandbox_.target() + "\\mode1.bin";
            HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
            g_progressBytes = 0;
            const ArchiveResult result = ExtractArchiveItem(archive, i, file, 0, TargetHandle, CountProgress);
            ::CloseHandle(file);
            CheckWritten(at + " to a handle", i, result, folder, known ? &record : nullptr, path);
        }

        // To a file name: the setup's joined path, or the stored name itself.
        if (!known || MayExtractByName(at, record.name)) {
            char joined[MAX_PATH];
            const bool useStored = random_.OneIn(2) || !known ||
                                   !BuildItemTarget(joined, sizeof joined, sandbox_.target().c_str(), record.name);
            g_progressBytes = 0;
            const ArchiveResult result = ExtractArchiveItem(archive, i, useStored ? nullptr : joined, 0, TargetFileName,
                                                            CountProgress);
            if (known && IsHostileName(record.name))
                Expect(at + " to a file, hostile name", result, {ArchiveErrOpenFile});
            // Without its record the stored name, and so the file written, is unknown.
            const std::string path = !known      ? std::string()
                                     : useStored ? sandbox_.target() + "\\" + record.name
                                                 : joined;
            CheckWritten(at + " to a file", i, result, folder, known ? &record : nullptr, path);
        }
    }

    // An extraction to a file: a defined result and, on ArchiveOk, the claimed bytes (at `path`, when known).
    void CheckWritten(const std::string& what, int i, ArchiveResult result, bool folder, const ArchiveItem* record,
                      const std::string& path) {
        Expect(what, result, kFileResults);
        if (result != ArchiveOk || folder) return;
        if (record == nullptr) Problem(what + ": ArchiveOk though its record cannot be read");
        if (!path.empty()) CheckDelivered(what, i, fuzz::ReadWholeFile(path).value_or(Bytes()), record);
        if (record != nullptr && g_progressBytes != record->uncompressedSize)
            Problem(what + ": progress counts do not add up");
    }

    void ExtractToMemory(ArchiveHandle archive, int i, const ArchiveItem* record) {
        const std::string at = "item " + std::to_string(i) + " to memory";
        const Claim claim = static_cast<std::size_t>(i) < claims_.size() ? claims_[i] : Claim{};
        const std::uint64_t size = record != nullptr ? record->uncompressedSize
                                                     : (claim.known ? claim.uncompressedSize : 0);
        std::uint32_t piece;
        switch (random_.Below(6)) {
            case 0:
                piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 1u << 20));
                break;
            case 1:
                piece = 1000;
                break;
            case 2:
                piece = 16384;
                break;
            case 3:
                piece = 0;
                break;
            default:
                piece = 64 + random_.Below(6000);
                break;
        }
        fuzz::GuardedBlock buffer(piece);
        Bytes delivered;
        const std::uint64_t callLimit = (piece == 0 ? 1 : std::max<std::uint64_t>(size, 1u << 22) / piece) + 3;
        ArchiveResult result = ArchiveMoreData;
        std::uint64_t calls = 0;
        while (result == ArchiveMoreData) {
            if (++calls > callLimit) {
                Problem(at + ": the extraction does not end");
                return;
            }
            result = ExtractArchiveItem(archive, i, buffer.data(), piece, TargetMemory, nullptr);
            Expect(at, result, {ArchiveMoreData, ArchiveOk, ArchiveErrMemoryExtract});
            if (result == ArchiveMoreData) {
                if (piece == 0) Problem(at + ": ArchiveMoreData for an empty buffer");
                // Every call fills the buffer but the one that delivers the item's last bytes.
                const std::uint64_t left = size > delivered.size() ? size - delivered.size() : 0;
                const std::uint64_t n = (size != 0 || record != nullptr || claim.known)
                                            ? std::min<std::uint64_t>(piece, left)
                                            : piece;
                delivered.insert(delivered.end(), buffer.data(), buffer.data() + n);
            }
        }
        if (result == ArchiveOk && piece != 0) CheckDelivered(at, i, delivered, record);
    }

    // One call of any kind, on any index, in any order.
    void RandomCall(ArchiveHandle archive, int count) {
        const int index = static_cast<int>(
                              random_.Below(static_cast<std::uint32_t>(std::min(count, kItemsWalked) + 3))) -
                          2;
        const bool inRange = index >= 0 && index < count;
        ArchiveItem item;
        switch (random_.Below(5)) {
            case 0:
                Expect("random record", GetArchiveItem(archive, index, &item),
                       index == -1 ? std::initializer_list<ArchiveResult>{ArchiveOk}
                       : inRange
                           ? std::initializer_list<ArchiveResult>{ArchiveOk, ArchiveErrItemHeader, ArchiveErrItemRead}
                           : std::initializer_list<ArchiveResult>{ArchiveErrArgument});
                break;
            case 1:
            case 2: {
                const std::uint32_t length = 1 + random_.Below(3000);
                fuzz::GuardedBlock buffer(length);
                Expect("random memory piece",
                       ExtractArchiveItem(archive, index, buffer.data(), length, TargetMemory, nullptr),
                       inRange
                           ? std::initializer_list<ArchiveResult>{ArchiveMoreData, ArchiveOk, ArchiveErrMemoryExtract}
                           : std::initializer_list<ArchiveResult>{ArchiveErrArgument});
                break;
            }
            case 3:
                if (inRange && GetArchiveItem(archive, index, &item) == ArchiveOk &&
                    !MayExtractByName("random", item.name))
                    break;
                Expect("random stored-name extraction",
                       ExtractArchiveItem(archive, index, nullptr, 0, TargetFileName, nullptr),
                       inRange ? kFileResults : std::initializer_list<ArchiveResult>{ArchiveErrArgument});
                break;
            default:
                Expect("random mode 0", ExtractArchiveItem(archive, index, nullptr, 0, 0, nullptr),
                       {ArchiveErrArgument});
                break;
        }
    }

    const Seed& seed_;
    const Bytes& bytes_;
    const fuzz::MutationRecord& mutation_;
    const fuzz::Sandbox& sandbox_;
    fuzz::Random& random_;
    std::vector<Claim> claims_;
    std::uint8_t piece_[1] = {};
    std::string problems_;
};

// The guards themselves, run only on request (the tests larkspan_fuzz_guard_*
// expect the process to end with the guard's report): LARKSPAN_FUZZ_SELFTEST
// = "crash" reads past a fenced block inside a case, "hang" never ends one.
TEST(FuzzHarness, StopsACaseThatFaultsOrHangs) {
    char mode[16] = {};
    if (::GetEnvironmentVariableA("LARKSPAN_FUZZ_SELFTEST", mode, sizeof mode) == 0) GTEST_SKIP();
    fuzz::CaseGuard::Install();
    const Bytes input = {0x50, 0x4B, 0x05, 0x06};
    fuzz::GuardedBlock block(input.data(), input.size(), true);
    fuzz::CaseGuard::Begin("selftest", 7, input);
    if (std::strcmp(mode, "crash") == 0) {
        volatile const std::uint8_t* past = block.data() + block.size();
        std::printf("read past the block: %u\n", static_cast<unsigned>(*past));
    } else {
        for (int i = 0; i < 400; ++i) ::Sleep(50);
    }
    fuzz::CaseGuard::End();
    ADD_FAILURE() << "the guard let the case go on";
}

// The data check sees an item whose bytes changed together with its CRC-32
// (which the reader cannot notice) when the case believes the item untouched.
TEST(ArchiveFuzz, TheCheckNoticesAnItemThatChangedUnseen) {
    fuzz::Sandbox sandbox;
    const Seed& seed = Seeds()[0];  // one stored item
    Bytes bytes = seed.packed.bytes;
    const packer::ItemLayout& layout = seed.packed.items[0];
    bytes[layout.dataOffset] ^= 0x20;
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), bytes.data() + layout.dataOffset, layout.compressedSize));
    for (std::size_t at : {static_cast<std::size_t>(layout.localHeaderOffset) + 14,
                           static_cast<std::size_t>(layout.centralHeaderOffset) + 16}) {
        for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(crc >> (8 * k));
    }
    fuzz::Random random(1);
    const fuzz::MutationRecord claimedNone;
    ArchiveCase one(seed, bytes, claimedNone, sandbox, random);
    EXPECT_NE(one.Run().find("untouched item delivered other bytes"), std::string::npos);
    sandbox.Clean();
}

TEST(ArchiveFuzz, MutatedArchivesGiveOnlyDefinedResults) {
    const fuzz::Budget budget = fuzz::Budget::FromEnvironment(0x4C41524B53504EULL, 3000, 20);
    fuzz::CaseGuard::Install();
    fuzz::Sandbox sandbox;
    const std::vector<Seed>& seeds = Seeds();

    // The unmutated seeds pass every check, so the checks themselves are sound.
    for (std::size_t s = 0; s < seeds.size(); ++s) {
        fuzz::Random random(s);
        const fuzz::MutationRecord none;
        ArchiveCase check(seeds[s], seeds[s].packed.bytes, none, sandbox, random);
        EXPECT_EQ(check.Run(), "") << "seed " << seeds[s].name;
        EXPECT_EQ(sandbox.Check(), "") << "seed " << seeds[s].name;
        sandbox.Clean();
    }

    fuzz::RunCampaign("archive", budget, 50, 2048, [&](fuzz::Random& random) {
        const Seed& seed = seeds[random.Below(static_cast<std::uint32_t>(seeds.size()))];
        fuzz::CampaignCase one{seed.packed.bytes, {}, {}};
        const Range shared = ShareALocalHeader(one.bytes, seed, random);
        fuzz::MutationRecord mutation = fuzz::Mutate(one.bytes, random, seed.hotSpots);
        if (shared.end != 0) {
            mutation.overwritten.push_back(shared);
            mutation.description += "shared-header;";
        }
        one.origin = "seed " + seed.name + ", " + mutation.description;
        one.check = [&seed, mutation, &sandbox, &random](const Bytes& bytes) {
            ArchiveCase archiveCase(seed, bytes, mutation, sandbox, random);
            std::string problems = archiveCase.Run() + sandbox.Check();
            sandbox.Clean();
            return problems;
        };
        return one;
    });
    std::printf("archive campaign: %llu opened, %llu extractions with ArchiveOk checked\n",
                static_cast<unsigned long long>(g_reach.opened), static_cast<unsigned long long>(g_reach.extracted));
}

}  // namespace
