// extract_bench: how fast the archive reader extracts, against what plain zlib
// does with the same deflate streams in the same process.
//
//   extract_bench LARGE SMALL1000 SMALL10000 WORKDIR [--reps N] [--small-reps N]
//
// LARGE and the SMALL archives come from make_archive (with their .layout files).
// All figures are medians of N runs (default 5), in MB/s (10^6 bytes per second)
// of uncompressed output:
//   (a) archive, every item to a file (ExtractArchiveItem, file-name mode, with
//       a progress function), memory source as in the setup;
//   (b) limit: raw inflate of the same streams, WriteFile in 16 KiB chunks to
//       the same files (stored items copied in 16 KiB chunks);
//   (c) archive, every item into memory (memory mode, one buffer per item);
//   (d) limit: raw inflate of the same streams straight into memory.
// Variants of the limit loops show where the difference goes: the CRC-32 pass,
// 16 KiB input refills, and a progress call that drains the message queue.
// Then, for the small-file archives, the time to list and to extract all items.
#include "archive/archive.h"
#include "archive/crc32.h"
#include "bench/bench_common.h"
#include "setup/create_folder_path.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::LayoutItem;

constexpr std::uint32_t kChunk = 16384;

struct Source {
    std::vector<std::uint8_t> bytes;
    std::vector<LayoutItem> items;
    std::uint64_t totalBytes = 0;
    std::uint32_t largestItem = 0;
};

bool LoadSource(const std::string& path, Source& source) {
    source.bytes = bench::ReadWholeFile(path).value_or(support::Bytes());
    source.items = bench::ReadLayout(path);
    if (source.bytes.empty() || source.items.empty()) {
        std::fprintf(stderr, "extract_bench: cannot read %s or its layout\n", path.c_str());
        return false;
    }
    for (const LayoutItem& item : source.items) {
        source.totalBytes += item.uncompressedSize;
        source.largestItem = std::max(source.largestItem, item.uncompressedSize);
    }
    return true;
}

// --- Progress functions --------------------------------------------------------

std::uint64_t g_progressBytes = 0;
std::uint64_t g_progressCalls = 0;

int CountProgress(DWORD* written) {
    g_progressBytes += *written;
    ++g_progressCalls;
    return 0;
}

void DrainQueue() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

// What a drain of the thread's message queue (empty here) after every block
// costs besides counting: the setup's progress function as it used to be.
int DrainingProgress(DWORD* written) {
    g_progressBytes += *written;
    ++g_progressCalls;
    DrainQueue();
    return 0;
}

// The setup's progress function now: a drain only when 15 ms have passed.
DWORD g_lastDrain = 0;
int TimedDrainingProgress(DWORD* written) {
    g_progressBytes += *written;
    ++g_progressCalls;
    if (::GetTickCount() - g_lastDrain >= 15) {
        DrainQueue();
        g_lastDrain = ::GetTickCount();
    }
    return 0;
}

// --- The archive reader ----------------------------------------------------------

// Item i to a file below `folder`, as the setup's copy makes the calls.
bool ArchiveItemToFile(ArchiveHandle archive, int i, const std::string& folder, ExtractProgressFn progress) {
    ArchiveItem item;
    if (GetArchiveItem(archive, i, &item) != ArchiveOk) return false;
    std::string path = bench::JoinItemPath(folder, item.name);
    return ExtractArchiveItem(archive, i, path.data(), 0, TargetFileName, progress) == ArchiveOk;
}

// Item i into memory: one call with a buffer of the item's size, and the
// closing call that returns ArchiveOk.
bool ArchiveItemToMemory(ArchiveHandle archive, int i, std::uint8_t* buffer) {
    ArchiveItem item;
    if (GetArchiveItem(archive, i, &item) != ArchiveOk) return false;
    ArchiveResult result = ExtractArchiveItem(archive, i, buffer, item.uncompressedSize, TargetMemory, nullptr);
    if (result == ArchiveMoreData) {
        result = ExtractArchiveItem(archive, i, buffer, item.uncompressedSize, TargetMemory, nullptr);
    }
    return result == ArchiveOk;
}

// Every item to a file below `folder`, as the setup's copy makes the calls.
bool ArchiveToFiles(const Source& source, const std::string& folder, ExtractProgressFn progress) {
    ArchiveHandle archive = OpenArchive(source.bytes.data(), static_cast<DWORD>(source.bytes.size()), SourceMemory);
    if (archive == nullptr) return false;
    ArchiveItem item;
    bool ok = GetArchiveItem(archive, -1, &item) == ArchiveOk;
    const int count = ok ? item.index : 0;
    for (int i = 0; ok && i < count; ++i) {
        ok = GetArchiveItem(archive, i, &item) == ArchiveOk;
        if (!ok) break;
        std::string path = bench::JoinItemPath(folder, item.name);
        ok = ExtractArchiveItem(archive, i, path.data(), 0, TargetFileName, progress) == ArchiveOk;
    }
    static_cast<void>(CloseArchive(archive));
    return ok;
}

// Every item into memory, one call with a buffer of the item's size (and the
// closing call that returns ArchiveOk).
bool ArchiveToMemory(const Source& source, std::uint8_t* buffer) {
    ArchiveHandle archive = OpenArchive(source.bytes.data(), static_cast<DWORD>(source.bytes.size()), SourceMemory);
    if (archive == nullptr) return false;
    ArchiveItem item;
    bool ok = GetArchiveItem(archive, -1, &item) == ArchiveOk;
    const int count = ok ? item.index : 0;
    for (int i = 0; ok && i < count; ++i) {
        ok = GetArchiveItem(archive, i, &item) == ArchiveOk;
        if (!ok) break;
        ArchiveResult result = ExtractArchiveItem(archive, i, buffer, item.uncompressedSize, TargetMemory, nullptr);
        if (result == ArchiveMoreData) {
            result = ExtractArchiveItem(archive, i, buffer, item.uncompressedSize, TargetMemory, nullptr);
        }
        ok = result == ArchiveOk;
    }
    static_cast<void>(CloseArchive(archive));
    return ok;
}

// Lists every item (count, then every record), from memory or, given a path,
// through the file (every directory read is then a ReadFile).
bool ArchiveList(const Source& source, const char* path = nullptr) {
    ArchiveHandle archive = path != nullptr ? OpenArchive(path, 0, SourceFileName)
                                            : OpenArchive(source.bytes.data(), static_cast<DWORD>(source.bytes.size()),
                                                          SourceMemory);
    if (archive == nullptr) return false;
    ArchiveItem item;
    bool ok = GetArchiveItem(archive, -1, &item) == ArchiveOk;
    const int count = ok ? item.index : 0;
    for (int i = 0; ok && i < count; ++i) ok = GetArchiveItem(archive, i, &item) == ArchiveOk;
    static_cast<void>(CloseArchive(archive));
    return ok && count == static_cast<int>(source.items.size());
}

// --- Plain zlib, no archive layer ---------------------------------------------------

struct LimitOptions {
    bool crc = false;                      // fold the output into a CRC-32 as it is produced
    bool refill16k = false;                // feed the input through a 16 KiB buffer, as the reader does
    ExtractProgressFn progress = nullptr;  // called after every written chunk
    bool folderPerItem = false;            // CreateFolderPath on every item's folder, as the extraction does
    bool fileCalls = false;                // SetFileAttributesA before, GetFileType and SetFileTime after every file
    // The same work done the cheaper way, as the extraction does it:
    // CreateFolderPath only when the folder is missing, the target created as
    // new, and only where that fails its attributes looked at and cleared.
    bool cheaperFileCalls = false;
};

// Decompresses one item, handing the output to `sink` in pieces of at most
// `piece` bytes (0: one piece of the whole item into `whole`).
bool InflateItem(const std::uint8_t* archive, const LayoutItem& item, const LimitOptions& options, std::uint8_t* out,
                 std::uint32_t piece, const std::function<bool(const std::uint8_t*, std::uint32_t)>& sink) {
    static std::uint8_t input[kChunk];
    const std::uint8_t* data = archive + item.dataOffset;
    std::uint32_t inLeft = item.compressedSize;
    std::uint32_t outLeft = item.uncompressedSize;
    std::uint32_t crc = 0;  // the reader's CRC-32 (UpdateCrc32)
    if (item.method == 0) {
        while (outLeft > 0) {
            const std::uint32_t k = piece == 0 ? outLeft : std::min(piece, outLeft);
            const std::uint8_t* from = data;
            if (piece == 0 || options.refill16k) {
                std::memcpy(out, data, k);
                from = out;
            }
            if (options.crc) crc = UpdateCrc32(crc, from, k);
            if (!sink(from, k)) return false;
            data += k;
            outLeft -= k;
        }
        return !options.crc || crc == item.crc;
    }
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    if (!options.refill16k) {
        zs.next_in = const_cast<Bytef*>(data);
        zs.avail_in = inLeft;
        inLeft = 0;
    }
    bool ok = true;
    while (ok && outLeft > 0) {
        const std::uint32_t room = piece == 0 ? outLeft : std::min(piece, outLeft);
        zs.next_out = out;
        zs.avail_out = room;
        while (zs.avail_out > 0) {
            if (zs.avail_in == 0 && inLeft > 0) {
                const std::uint32_t n = std::min(kChunk, inLeft);
                std::memcpy(input, data, n);
                data += n;
                inLeft -= n;
                zs.next_in = input;
                zs.avail_in = n;
            }
            const int status = inflate(&zs, Z_SYNC_FLUSH);
            if (status == Z_STREAM_END) break;
            if (status != Z_OK) {
                ok = false;
                break;
            }
        }
        const std::uint32_t produced = room - zs.avail_out;
        if (produced == 0) ok = false;
        if (!ok) break;
        if (options.crc) crc = UpdateCrc32(crc, out, produced);
        if (!sink(out, produced)) ok = false;
        outLeft -= produced;
    }
    inflateEnd(&zs);
    return ok && (!options.crc || crc == item.crc);
}

bool LimitItemToFile(const Source& source, const LayoutItem& item, const std::string& folder,
                     const LimitOptions& options, std::vector<std::string>& made) {
    static std::uint8_t chunk[kChunk];
    {
        const std::string path = bench::JoinItemPath(folder, item.name);
        if (options.folderPerItem) {
            std::string parent = path.substr(0, path.find_last_of("\\/") + 1);
            const DWORD attributes = options.cheaperFileCalls ? ::GetFileAttributesA(parent.c_str())
                                                              : INVALID_FILE_ATTRIBUTES;
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                static_cast<void>(CreateFolderPath(parent.data()));
            }
        } else {
            bench::MakeParentFolders(path, made);
        }
        if (options.fileCalls && !options.cheaperFileCalls) ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        HANDLE file = INVALID_HANDLE_VALUE;
        if (options.fileCalls && options.cheaperFileCalls) {
            file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            const DWORD existing = file != INVALID_HANDLE_VALUE ? INVALID_FILE_ATTRIBUTES
                                                                : ::GetFileAttributesA(path.c_str());
            if (existing != INVALID_FILE_ATTRIBUTES &&
                (existing & ~(FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE)) != 0) {
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            }
        }
        if (file == INVALID_HANDLE_VALUE) {
            file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
        }
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool ok = InflateItem(source.bytes.data(), item, options, chunk, kChunk,
                                    [&](const std::uint8_t* bytes, std::uint32_t n) {
                                        DWORD written = 0;
                                        if (!::WriteFile(file, bytes, n, &written, nullptr) || written != n)
                                            return false;
                                        if (options.progress != nullptr) options.progress(&written);
                                        return true;
                                    });
        if (options.fileCalls && ::GetFileType(file) == FILE_TYPE_DISK) {
            FILETIME time{0x12345678, 0x01D00000};
            ::SetFileTime(file, &time, &time, &time);
        }
        ::CloseHandle(file);
        if (!ok) return false;
    }
    return true;
}

bool LimitToFiles(const Source& source, const std::string& folder, const LimitOptions& options) {
    std::vector<std::string> made;
    for (const LayoutItem& item : source.items) {
        if (!LimitItemToFile(source, item, folder, options, made)) return false;
    }
    return true;
}

bool LimitToMemory(const Source& source, std::uint8_t* buffer, const LimitOptions& options) {
    for (const LayoutItem& item : source.items) {
        if (!InflateItem(source.bytes.data(), item, options, buffer, 0,
                         [](const std::uint8_t*, std::uint32_t) { return true; })) {
            return false;
        }
    }
    return true;
}

// --- Measuring --------------------------------------------------------------------

struct Measure {
    Measure(const char* l, std::function<bool()> p, std::function<bool()> r)
        : label(l), prepare(std::move(p)), run(std::move(r)) {}
    const char* label;
    std::function<bool()> prepare;  // untimed, before every run
    std::function<bool()> run;
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;  // this thread's user + kernel time
    bool failed = false;
};

// User + kernel time of the calling thread (what other processes on a busy
// machine cannot take away; the system's own server work is not in it).
double ThreadCpu() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) { return static_cast<double>(support::Ticks(t)) / 1e7; };
    return seconds(kernel) + seconds(user);
}

double Rate(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}

// Runs every measure `reps` times, interleaved, so that a slow phase of the
// machine touches all of them alike.
void RunInterleaved(std::vector<Measure>& measures, int reps) {
    for (int r = 0; r < reps; ++r) {
        for (Measure& m : measures) {
            if (m.failed || !m.run) continue;
            if (m.prepare && !m.prepare()) {
                m.failed = true;
                continue;
            }
            const double c0 = ThreadCpu();
            const double t0 = bench::Now();
            const bool ok = m.run();
            const double t1 = bench::Now();
            const double c1 = ThreadCpu();
            if (!ok) {
                std::fprintf(stderr, "extract_bench: %s failed\n", m.label);
                m.failed = true;
                continue;
            }
            m.seconds.push_back(t1 - t0);
            m.cpuSeconds.push_back(c1 - c0);
        }
    }
}

// The reader against its limit, item by item: for every item the reader's
// extraction and the plain loop's run back to back, in alternating order, each
// timed on its own. A busy spell of the machine (other jobs share it) then
// falls on both sides alike instead of on whichever whole run it happens to
// meet. One call is one run of each side over the whole archive.
struct PairedRun {
    std::function<bool(int)> reader;  // item index -> extracted
    std::function<bool(int)> limit;
};

bool RunPaired(const PairedRun& pair, int items, Measure& reader, Measure& limit) {
    double seconds[2] = {}, cpu[2] = {};
    for (int i = 0; i < items; ++i) {
        for (int k = 0; k < 2; ++k) {
            const int side = (i + k) % 2;  // 0 the reader, 1 the limit
            const double c0 = ThreadCpu();
            const double t0 = bench::Now();
            const bool ok = side == 0 ? pair.reader(i) : pair.limit(i);
            seconds[side] += bench::Now() - t0;
            cpu[side] += ThreadCpu() - c0;
            if (!ok) {
                std::fprintf(stderr, "extract_bench: %s failed at item %d\n", side == 0 ? reader.label : limit.label,
                             i);
                return false;
            }
        }
    }
    reader.seconds.push_back(seconds[0]);
    reader.cpuSeconds.push_back(cpu[0]);
    limit.seconds.push_back(seconds[1]);
    limit.cpuSeconds.push_back(cpu[1]);
    return true;
}

std::string g_workDir;

std::string Fresh(const char* name) {
    const std::string folder = g_workDir + "\\" + name;
    bench::RemoveTree(folder);
    ::CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void TouchPages(std::uint8_t* buffer, std::size_t size) {
    for (std::size_t i = 0; i < size; i += 4096) buffer[i] = 0;
}

// Best of three timings of `n` calls of `call`, in microseconds per call.
template <typename F>
double MicrosPerCall(int n, F call, int rounds = 3) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const double t0 = bench::Now();
        for (int i = 0; i < n; ++i) call(i);
        best = std::min(best, bench::Now() - t0);
    }
    return best / n * 1e6;
}

// What the reader does besides inflating, priced one operation at a time with
// short, repeated timings (robust on a busy machine), and what that adds up to
// for one run over the large archive.
void PriceTheExtraWork(const Source& large, double limitFilesSeconds, double limitMemorySeconds) {
    std::vector<std::uint8_t> hot(256 * 1024);
    for (std::size_t i = 0; i < hot.size(); ++i) hot[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    volatile uLong sink = 0;
    const double zlibCrcMicros = MicrosPerCall(
        400, [&](int) { sink = crc32(sink, hot.data(), static_cast<uInt>(hot.size())); });
    const double zlibCrcRate = static_cast<double>(hot.size()) / zlibCrcMicros;  // MB/s
    volatile std::uint32_t ownSink = 0;
    // Many short rounds: the best is the one no other job interrupted.
    constexpr int kCrcRounds = 25;
    const double crcMicros = MicrosPerCall(
        400, [&](int) { ownSink = UpdateCrc32(ownSink, hot.data(), hot.size()); }, kCrcRounds);
    const double crcRate = static_cast<double>(hot.size()) / crcMicros;  // MB/s
    // As the reader calls it: 16 KiB pieces, just written by inflate.
    const double crcPieceMicros = MicrosPerCall(
        4000, [&](int i) { ownSink = UpdateCrc32(ownSink, hot.data() + (i % 15) * kChunk, kChunk); }, kCrcRounds);
    const double crcPieceRate = static_cast<double>(kChunk) / crcPieceMicros;
    std::vector<std::uint8_t> input(kChunk);
    const double copyMicros = MicrosPerCall(
        4000, [&](int i) { std::memcpy(input.data(), hot.data() + (i % 15) * kChunk, kChunk); });
    const double copyRate = static_cast<double>(kChunk) / copyMicros;

    const std::string folder = Fresh("p");
    std::string deep = folder + "\\data00/part0/";
    std::vector<std::string> made;
    bench::MakeParentFolders(deep + "x", made);
    const std::string file = deep + "file.bin";
    HANDLE h = ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME time{0x12345678, 0x01D00000};
    const double folderMicros = MicrosPerCall(1000, [&](int) {
        std::string path = deep;
        static_cast<void>(CreateFolderPath(path.data()));
    });
    const double attributesMicros = MicrosPerCall(1000, [&](int) { ::GetFileAttributesA(deep.c_str()); });
    const double timesMicros = MicrosPerCall(1000, [&](int) {
        if (::GetFileType(h) == FILE_TYPE_DISK) ::SetFileTime(h, &time, &time, &time);
    });
    ::CloseHandle(h);
    const double setAttributesMicros = MicrosPerCall(
        1000, [&](int) { ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL); });
    const double peekMicros = MicrosPerCall(2000, [&](int) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
    });
    bench::RemoveTree(folder);

    std::uint64_t compressed = 0, refills = 0;
    for (const LayoutItem& item : large.items) {
        compressed += item.compressedSize;
        refills += (item.compressedSize + kChunk - 1) / kChunk;
    }
    const double items = static_cast<double>(large.items.size());
    const double chunks = static_cast<double>(large.totalBytes) / kChunk;
    const double crcSeconds = static_cast<double>(large.totalBytes) / crcRate / 1e6;
    const double copySeconds = static_cast<double>(compressed) / copyRate / 1e6;
    // What the extraction calls per item besides creating the file: one look at
    // the folder (a target that exists already costs a look at it too, and
    // attributes are set only when there are some to clear), and the type and
    // times of the written file.
    const double fileCallSeconds = items * (attributesMicros + timesMicros) / 1e6;
    std::printf("where the time goes (best of 3 short timings each, the CRC-32 best of %d):\n", kCrcRounds);
    std::printf("  zlib's crc32 (cache-hot):     %8.0f MB/s\n", zlibCrcRate);
    std::printf("  UpdateCrc32 (cache-hot, %s): %8.0f MB/s (in 16 KiB pieces %.0f MB/s)   target >= 15000   %s\n",
                Crc32UsesCarrylessMultiply() ? "folding" : "zlib's", crcRate, crcPieceRate,
                crcRate >= 15000 ? "met" : "MISSED");
    std::printf("    -> %.3f s per run = %4.1f %% of (d), %4.1f %% of (b)\n", crcSeconds,
                100 * crcSeconds / limitMemorySeconds, 100 * crcSeconds / limitFilesSeconds);
    std::printf("  16 KiB input refill copies:   %8.0f MB/s -> %.3f s per run = %4.1f %% of (d) (%llu refills)\n",
                copyRate, copySeconds, 100 * copySeconds / limitMemorySeconds,
                static_cast<unsigned long long>(refills));
    std::printf("  CreateFolderPath, existing %s: %6.1f us per item (GetFileAttributesA alone %.1f us)\n", "folder",
                folderMicros, attributesMicros);
    std::printf(
        "  SetFileAttributesA:           %8.1f us per item (only for a target with attributes to clear);  "
        "GetFileType + SetFileTime: %.1f us per item\n",
        setAttributesMicros, timesMicros);
    std::printf("  file calls per run (%0.f items: folder look, type and times):  %.3f s = %4.1f %% of (b)\n", items,
                fileCallSeconds, 100 * fileCallSeconds / limitFilesSeconds);
    std::printf(
        "  PeekMessage drain, empty queue: %6.1f us per call -> %.3f s per run if drained after each of %.0f chunks "
        "(the setup drains at most every 15 ms and after each item)\n",
        peekMicros, chunks * peekMicros / 1e6, chunks);
    std::printf("  target folder depth: %s\n", deep.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: extract_bench LARGE SMALL1000 SMALL10000 WORKDIR [--reps N] [--small-reps N]\n", stderr);
        return 2;
    }
    int reps = 5;
    int smallReps = 5;
    for (int i = 5; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--reps") == 0) reps = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--small-reps") == 0) smallReps = std::atoi(argv[i + 1]);
    }
    g_workDir = argv[4];
    ::CreateDirectoryA(g_workDir.c_str(), nullptr);

    Source large;
    if (!LoadSource(argv[1], large)) return 1;
    std::vector<std::uint8_t> memoryTarget(large.largestItem + 1);
    TouchPages(memoryTarget.data(), memoryTarget.size());
    std::uint64_t compressed = 0;
    for (const LayoutItem& item : large.items) compressed += item.compressedSize;
    std::printf("large archive: %zu items, %.1f MiB uncompressed, %.1f MiB compressed, %.1f MiB file\n",
                large.items.size(), static_cast<double>(large.totalBytes) / 1048576.0,
                static_cast<double>(compressed) / 1048576.0, static_cast<double>(large.bytes.size()) / 1048576.0);
    std::printf(
        "runs: median of %d, MB/s = 10^6 bytes of uncompressed output per second; (a)-(d) timed item by item in\n"
        "pairs, (a) with (b) and (c) with (d), alternating which goes first; the rest as whole runs, interleaved\n\n",
        reps);
    std::fflush(stdout);

    std::string folder;
    auto freshA = [&] {
        folder = Fresh("a");
        g_progressBytes = 0;
        g_progressCalls = 0;
        return true;
    };
    auto freshB = [&] {
        folder = Fresh("b");
        g_progressBytes = 0;
        g_progressCalls = 0;
        return true;
    };
    std::uint8_t* mem = memoryTarget.data();
    std::vector<Measure> measures = {
        // (a)-(d) are timed item by item in pairs (RunPaired), below.
        {"(a) archive -> files, progress counts", nullptr, nullptr},
        {"(b) zlib -> files (limit)", nullptr, nullptr},
        {"(c) archive -> memory", nullptr, nullptr},
        {"(d) zlib -> memory (limit)", nullptr, nullptr},
        {"    archive -> files, progress counts, whole runs", freshA,
         [&] { return ArchiveToFiles(large, folder, CountProgress) && g_progressBytes == large.totalBytes; }},
        {"    zlib -> files (limit), whole runs", freshB, [&] { return LimitToFiles(large, folder, {}); }},
        {"    archive -> memory, whole runs", nullptr, [&] { return ArchiveToMemory(large, mem); }},
        {"    zlib -> memory (limit), whole runs", nullptr, [&] { return LimitToMemory(large, mem, {}); }},
        {"    zlib -> memory + CRC-32", nullptr,
         [&] {
             return LimitToMemory(large, mem, {true, false, nullptr});
         }},
        {"    zlib -> memory + CRC-32 + 16 KiB refills", nullptr,
         [&] {
             return LimitToMemory(large, mem, {true, true, nullptr});
         }},
        {"    zlib -> files + CRC-32", freshB,
         [&] {
             return LimitToFiles(large, folder, {true, false, nullptr});
         }},
        {"    zlib -> files + CRC-32 + 16 KiB refills + counting progress", freshB,
         [&] {
             return LimitToFiles(large, folder, {true, true, CountProgress});
         }},
        {"    zlib -> files + CreateFolderPath per item", freshB,
         [&] {
             return LimitToFiles(large, folder, {false, false, nullptr, true, false, false});
         }},
        {"    zlib -> files + attribute/type/time calls per item", freshB,
         [&] {
             return LimitToFiles(large, folder, {false, false, nullptr, false, true, false});
         }},
        {"    zlib -> files + all of the above (the reader's work, no archive code)", freshB,
         [&] {
             return LimitToFiles(large, folder, {true, true, CountProgress, true, true, false});
         }},
        {"    the same, folder check and attribute clearing only when needed", freshB,
         [&] {
             return LimitToFiles(large, folder, {true, true, CountProgress, true, true, true});
         }},
        {"    archive -> files, no progress function", freshA, [&] { return ArchiveToFiles(large, folder, nullptr); }},
        {"    archive -> files, progress drains the message queue per block", freshA,
         [&] { return ArchiveToFiles(large, folder, DrainingProgress); }},
        {"    archive -> files, progress drains the queue every 15 ms", freshA,
         [&] { return ArchiveToFiles(large, folder, TimedDrainingProgress); }},
    };
    const int largeItems = static_cast<int>(large.items.size());
    // One paired run of a reader side against its limit over the large archive;
    // opening the archive counts on the reader's side.
    auto paired = [&](Measure& reader, Measure& limit, bool files) {
        const std::string folderA = Fresh("a");
        const std::string folderB = Fresh("b");
        g_progressBytes = 0;
        std::vector<std::string> made;
        const double t0 = bench::Now();
        ArchiveHandle archive = OpenArchive(large.bytes.data(), static_cast<DWORD>(large.bytes.size()), SourceMemory);
        const double opening = bench::Now() - t0;
        if (archive == nullptr) return false;
        PairedRun pair;
        if (files) {
            pair.reader = [&](int i) { return ArchiveItemToFile(archive, i, folderA, CountProgress); };
            pair.limit = [&](int i) { return LimitItemToFile(large, large.items[i], folderB, {}, made); };
        } else {
            pair.reader = [&](int i) { return ArchiveItemToMemory(archive, i, mem); };
            pair.limit = [&](int i) {
                return InflateItem(large.bytes.data(), large.items[i], {}, mem, 0,
                                   [](const std::uint8_t*, std::uint32_t) { return true; });
            };
        }
        bool ok = RunPaired(pair, largeItems, reader, limit);
        const double t1 = bench::Now();
        static_cast<void>(CloseArchive(archive));
        if (ok) reader.seconds.back() += opening + (bench::Now() - t1);
        if (files && g_progressBytes != large.totalBytes) ok = false;
        return ok;
    };
    for (int r = 0; r < reps; ++r) {
        if (!measures[0].failed && !paired(measures[0], measures[1], true))
            measures[0].failed = measures[1].failed = true;
        if (!measures[2].failed && !paired(measures[2], measures[3], false))
            measures[2].failed = measures[3].failed = true;
        RunInterleaved(measures, 1);
    }
    std::vector<double> rates, fastest, cpuRates;
    std::printf("%-72s %10s %10s %10s\n", "", "median", "best", "CPU-time");
    for (const Measure& m : measures) {
        const double median = bench::Median(m.seconds);
        const double best = m.seconds.empty() ? 0 : *std::min_element(m.seconds.begin(), m.seconds.end());
        const double cpu = bench::Median(m.cpuSeconds);
        rates.push_back(m.failed ? 0 : Rate(large.totalBytes, median));
        fastest.push_back(m.failed ? 0 : Rate(large.totalBytes, best));
        cpuRates.push_back(m.failed ? 0 : Rate(large.totalBytes, cpu));
        if (m.failed) {
            std::printf("%-72s FAILED\n", m.label);
        } else {
            std::printf("%-72s %5.1f MB/s %5.1f MB/s %5.1f MB/s  (wall s:", m.label, rates.back(), fastest.back(),
                        cpuRates.back());
            for (double s : m.seconds) std::printf(" %.3f", s);
            std::printf(")\n");
        }
    }
    auto ratio = [](const std::vector<double>& r, int x, int y) { return r[y] > 0 ? r[x] / r[y] : 0; };
    const double ab = ratio(rates, 0, 1);
    const double cd = ratio(rates, 2, 3);
    std::printf("\n(a)/(b) = %.3f   target >= 0.95   %s   (best runs %.3f, CPU time %.3f)\n", ab,
                ab >= 0.95 ? "met" : "MISSED", ratio(fastest, 0, 1), ratio(cpuRates, 0, 1));
    std::printf("(c)/(d) = %.3f   target >= 0.97   %s   (best runs %.3f, CPU time %.3f)\n", cd,
                cd >= 0.97 ? "met" : "MISSED", ratio(fastest, 2, 3), ratio(cpuRates, 2, 3));
    std::printf("progress calls per (a) run: %llu\n\n", static_cast<unsigned long long>(g_progressCalls));
    {
        auto best = [](const Measure& m) {
            return m.seconds.empty() ? 1.0 : *std::min_element(m.seconds.begin(), m.seconds.end());
        };
        PriceTheExtraWork(large, best(measures[1]), best(measures[3]));
        std::printf("\n");
    }
    bench::RemoveTree(g_workDir + "\\a");
    bench::RemoveTree(g_workDir + "\\b");
    std::fflush(stdout);

    // Many small items: listing and extracting must grow linearly.
    double perItem[2][4] = {};
    for (int s = 0; s < 2; ++s) {
        Source small;
        if (!LoadSource(argv[2 + s], small)) return 1;
        // Extraction and the plain loop are timed item by item in pairs, as (a)/(b).
        std::vector<Measure> smallMeasures = {
            {"list", nullptr, [&] { return ArchiveList(small); }},
            {"extract", nullptr, nullptr},
            {"extract, plain zlib and WriteFile (no archive code)", nullptr, nullptr},
            {"list, archive opened by file name", nullptr, [&] { return ArchiveList(small, argv[2 + s]); }},
        };
        const int smallItems = static_cast<int>(small.items.size());
        for (int r = 0; r < smallReps; ++r) {
            RunInterleaved(smallMeasures, 1);
            if (smallMeasures[1].failed) continue;
            const std::string folderReader = Fresh("s");
            const std::string folderLimit = Fresh("t");
            std::vector<std::string> made;
            const double t0 = bench::Now();
            ArchiveHandle archive = OpenArchive(small.bytes.data(), static_cast<DWORD>(small.bytes.size()),
                                                SourceMemory);
            const double opening = bench::Now() - t0;
            PairedRun pair;
            pair.reader = [&](int i) { return ArchiveItemToFile(archive, i, folderReader, CountProgress); };
            pair.limit = [&](int i) { return LimitItemToFile(small, small.items[i], folderLimit, {}, made); };
            const bool ok = archive != nullptr && RunPaired(pair, smallItems, smallMeasures[1], smallMeasures[2]);
            if (archive != nullptr) static_cast<void>(CloseArchive(archive));
            if (!ok) {
                smallMeasures[1].failed = smallMeasures[2].failed = true;
                continue;
            }
            smallMeasures[1].seconds.back() += opening;
        }
        const double n = static_cast<double>(small.items.size());
        for (int k = 0; k < static_cast<int>(smallMeasures.size()); ++k) {
            const Measure& m = smallMeasures[k];
            const double median = bench::Median(m.seconds);
            perItem[s][k] = median / n * 1e6;
            std::printf("%5zu items: %-52s %8.3f s  %8.1f us/item%s\n", small.items.size(), m.label, median,
                        median / n * 1e6, m.failed ? "  FAILED" : "");
        }
        bench::RemoveTree(g_workDir + "\\s");
        bench::RemoveTree(g_workDir + "\\t");
        std::fflush(stdout);
    }
    std::printf("growth of the per-item cost from 1,000 to 10,000 items: list x%.2f, extract x%.2f (1.00 = linear)\n",
                perItem[0][0] > 0 ? perItem[1][0] / perItem[0][0] : 0,
                perItem[0][1] > 0 ? perItem[1][1] / perItem[0][1] : 0);
    const double smallRatio = perItem[1][2] > 0 ? perItem[1][1] / perItem[1][2] : 0;
    std::printf("10000 items, extract per item / plain loop per item = %.3f   target <= 1.15   %s\n", smallRatio,
                smallRatio > 0 && smallRatio <= 1.15 ? "met" : "MISSED");
    bool anyFailed = false;
    for (const Measure& m : measures) anyFailed = anyFailed || m.failed;
    return anyFailed ? 1 : 0;
}
