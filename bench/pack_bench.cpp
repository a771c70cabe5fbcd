// larkspan-pack-bench: the download size of a corpus under each encoder the
// packer has, and how long packing takes. A native program (bench/run.sh
// --download-size builds and runs it on a corpus of real files).
//
//   larkspan-pack-bench [--reps N] [storedName=]path...
//
// Encoders: zlib at level 6 with every item deflated (the packer before it had
// libdeflate), zlib at level 9; then, each with an item stored when deflate
// would not make it smaller, libdeflate at the levels --level 6, 9 and 11 give
// and at 12, Zopfli with its own defaults and with any number of blocks at a
// few iteration counts, and the smaller of libdeflate 12 and Zopfli item by
// item: larkspan-pack's default output. Sizes are of the whole archive (headers
// included), and of the items' data split into PE files (starting with "MZ")
// and the rest. Times are of the packing alone, files already read: the median
// of N runs (default 3), or one run for the encoders with Zopfli, which take
// minutes. Every archive is read back: each item inflated with zlib (as the
// setup does), compared with its file and the inflate timed.
#include "tools/packer/host_deflaters.h"
#include "tools/packer/zip_packer.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

struct Encoder {
    const char* name;
    packer::Deflater deflater;
    int level;
    bool storeWhenNotSmaller;
    bool slow;  // timed on one run
};

// Zopfli at `iterations` (the Deflater's level), with its own default limit of
// 15 blocks per million bytes, and with any number of blocks.
constexpr int kZopfliOwnMaxBlocks = 15;
Bytes ZopfliOwnLimit(const Bytes& data, int iterations) {
    return packer::ZopfliDeflate(data, iterations, kZopfliOwnMaxBlocks);
}
Bytes ZopfliAnyBlocks(const Bytes& data, int iterations) { return packer::ZopfliDeflate(data, iterations); }

const Encoder kEncoders[] = {
    {"zlib 6, every item deflated (the packer before)", packer::ZlibDeflate, 6, false, false},
    {"zlib 9, every item deflated", packer::ZlibDeflate, 9, false, false},
    {"libdeflate 6 (--level 6)", packer::LibdeflateDeflate, 6, true, false},
    {"libdeflate 9 (--level 9)", packer::LibdeflateDeflate, 9, true, false},
    {"libdeflate 11 (--level 11)", packer::LibdeflateDeflate, 11, true, false},
    {"libdeflate 12", packer::LibdeflateDeflate, 12, true, false},
    {"Zopfli 15 iterations, <= 15 blocks/MB (its defaults)", ZopfliOwnLimit, 15, true, true},
    {"Zopfli 1 iteration, any number of blocks", ZopfliAnyBlocks, 1, true, true},
    {"Zopfli 5 iterations, any number of blocks", ZopfliAnyBlocks, 5, true, true},
    {"Zopfli 15 iterations, any number of blocks", ZopfliAnyBlocks, 15, true, true},
    {"smaller of libdeflate 12 and Zopfli 5 (default)", packer::SmallestDeflate, 12, true, true},
};

bool IsPe(const Bytes& data) { return data.size() >= 2 && data[0] == 'M' && data[1] == 'Z'; }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Inflates one item's raw deflate data; false when it does not give `expected`.
bool InflatesTo(const std::uint8_t* in, std::size_t size, const Bytes& expected, Bytes& out) {
    out.resize(expected.size());
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    const bool whole = (status == Z_STREAM_END || (status == Z_BUF_ERROR && expected.empty())) &&
                       z.total_out == expected.size();
    inflateEnd(&z);
    return whole && out == expected;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "larkspan-pack-bench: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int reps = 3;
    std::vector<packer::Item> items;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--reps" && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string path = equals == std::string::npos ? arg : arg.substr(equals + 1);
        std::ifstream in(path, std::ios::binary);
        if (!in) return Fail("cannot read " + path);
        packer::Item item;
        item.name = equals == std::string::npos ? path : arg.substr(0, equals);
        item.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        items.push_back(std::move(item));
    }
    if (items.empty()) return Fail("usage: larkspan-pack-bench [--reps N] [storedName=]path...");

    std::uint64_t peBytes = 0, otherBytes = 0;
    std::size_t peFiles = 0;
    for (const packer::Item& item : items) {
        (IsPe(item.data) ? peBytes : otherBytes) += item.data.size();
        peFiles += IsPe(item.data) ? 1 : 0;
    }
    std::printf("corpus: %zu files, %llu bytes: %zu PE files %llu bytes, %zu other files %llu bytes\n", items.size(),
                static_cast<unsigned long long>(peBytes + otherBytes), peFiles,
                static_cast<unsigned long long>(peBytes), items.size() - peFiles,
                static_cast<unsigned long long>(otherBytes));
    std::printf(
        "times: median of %d runs (packing with Zopfli: one run); pack s is the elapsed time, cpu s the process's\n"
        "processor time of the same runs (the two part on a busy machine); MB/s = 10^6 corpus bytes per elapsed\n"
        "second; zlib %s\n\n",
        reps, zlibVersion());
    std::printf("%-54s %12s %7s %12s %7s %12s %7s %8s %8s %8s %10s %8s\n", "encoder", "archive", "/zlib6", "PE data",
                "/zlib6", "other data", "/zlib6", "pack s", "cpu s", "MB/s", "inflate s", "stored");

    std::uint64_t zlib6[3] = {0, 0, 0};
    bool allRoundTrip = true;
    for (const Encoder& encoder : kEncoders) {
        packer::Options options;
        options.deflater = encoder.deflater;
        options.storeWhenNotSmaller = encoder.storeWhenNotSmaller;
        for (packer::Item& item : items) item.level = encoder.level;
        std::vector<double> packTimes, packCpuTimes, inflateTimes;
        packer::Packed packed;
        for (int r = 0; r < (encoder.slow ? 1 : reps); ++r) {
            const Clock::time_point start = Clock::now();
            const std::clock_t cpuStart = std::clock();
            packed = packer::Pack(items, options);
            packCpuTimes.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
            packTimes.push_back(Seconds(Clock::now() - start));
        }
        std::uint64_t sizes[3] = {packed.bytes.size(), 0, 0};
        std::size_t stored = 0;
        Bytes out;
        for (int r = 0; r < reps; ++r) {
            const Clock::time_point start = Clock::now();
            for (std::size_t i = 0; i < items.size(); ++i) {
                const packer::ItemLayout& layout = packed.items[i];
                const std::uint8_t* data = packed.bytes.data() + layout.dataOffset;
                // The method field of the local header tells stored from deflated.
                const bool deflated = packed.bytes[layout.localHeaderOffset + 8] == 8;
                const bool same = deflated ? InflatesTo(data, layout.compressedSize, items[i].data, out)
                                           : std::equal(data, data + layout.compressedSize, items[i].data.begin(),
                                                        items[i].data.end());
                if (!same) {
                    std::fprintf(stderr, "%s: %s does not round-trip\n", encoder.name, items[i].name.c_str());
                    allRoundTrip = false;
                }
                if (r == 0) {
                    sizes[IsPe(items[i].data) ? 1 : 2] += layout.compressedSize;
                    stored += deflated ? 0 : 1;
                }
            }
            inflateTimes.push_back(Seconds(Clock::now() - start));
        }
        if (zlib6[0] == 0) std::copy(sizes, sizes + 3, zlib6);
        const double packSeconds = Median(packTimes);
        std::printf("%-54s %12llu %7.3f %12llu %7.3f %12llu %7.3f %8.3f %8.3f %8.2f %10.3f %8zu\n", encoder.name,
                    static_cast<unsigned long long>(sizes[0]), static_cast<double>(sizes[0]) / zlib6[0],
                    static_cast<unsigned long long>(sizes[1]), static_cast<double>(sizes[1]) / zlib6[1],
                    static_cast<unsigned long long>(sizes[2]), static_cast<double>(sizes[2]) / zlib6[2], packSeconds,
                    Median(packCpuTimes), static_cast<double>(peBytes + otherBytes) / packSeconds / 1e6,
                    Median(inflateTimes), stored);
        std::fflush(stdout);
    }
    std::printf("\nround trip (zlib inflate of every item of every archive): %s\n",
                allRoundTrip ? "every item identical" : "FAILED");
    return allRoundTrip ? 0 : 1;
}
