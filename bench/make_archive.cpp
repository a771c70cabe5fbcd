// make_archive: writes the benchmark archives in the payload form, with the
// packer library, from a seeded generator (the same arguments always give the
// same bytes). Beside every archive goes a layout file that names, per item,
// where its data lies, so that the plain-zlib baselines can read the deflate
// streams without any archive code.
//
//   make_archive large OUT [MIB]            >= MIB MiB (default 256) in >= 200 mixed items
//   make_archive small OUT COUNT            COUNT small text files in 100 folders
//   make_archive setup OUT PROGRAM [MIB]    PROGRAM as item 0, then MIB MiB (default 128)
//                                           of mixed items and a licence
//   make_archive program OUT PROGRAM        PROGRAM as the only item
//
// Layout file OUT.layout, one line per item:
//   <method> <data offset> <compressed size> <uncompressed size> <crc32 hex> <name>
#include "tests/support/bytes.h"
#include "tests/support/packing.h"
#include "tools/packer/zip_packer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kItemTime = 1767225600;  // 2026-01-01 00:00:00 UTC

using support::Random;

enum class Kind { Text, Binary, Noise };

// Text-like: words of a fixed vocabulary, drawn with a skewed frequency, in
// lines and paragraphs (deflate ratio around 3).
std::vector<std::uint8_t> TextData(Random& random, std::size_t size) {
    static const std::vector<std::string> vocabulary = [] {
        std::vector<std::string> words;
        Random r(77);
        for (int i = 0; i < 4000; ++i) {
            std::string word;
            const int length = 2 + static_cast<int>(r.Below(9));
            for (int k = 0; k < length; ++k) word.push_back(static_cast<char>('a' + r.Below(26)));
            words.push_back(word);
        }
        return words;
    }();
    std::vector<std::uint8_t> out;
    out.reserve(size + 16);
    int column = 0;
    while (out.size() < size) {
        // Squaring a uniform number favours the first words of the vocabulary.
        const double u = random.Unit();
        const std::string& word = vocabulary[static_cast<std::size_t>(u * u * u * vocabulary.size())];
        out.insert(out.end(), word.begin(), word.end());
        column += static_cast<int>(word.size()) + 1;
        if (column > 72) {
            out.push_back('\r');
            out.push_back('\n');
            column = 0;
        } else {
            out.push_back(random.Below(12) == 0 ? ',' : ' ');
        }
    }
    out.resize(size);
    return out;
}

// Binary-like: records of slowly changing little-endian counters, small
// deltas, a few flag bytes and a random word (deflate ratio around 2).
std::vector<std::uint8_t> BinaryData(Random& random, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size + 32);
    std::uint32_t counter = random.Below(1u << 20);
    std::uint32_t value = random.Below(1u << 16);
    while (out.size() < size) {
        counter += 1 + random.Below(3);
        value += random.Below(64) - 32;
        const std::uint32_t noise = static_cast<std::uint32_t>(random.Next());
        const std::uint32_t fields[4] = {counter, value, random.Below(8) == 0 ? noise : 0u, noise & 0xFF};
        for (std::uint32_t field : fields) {
            for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(field >> (8 * b)));
        }
    }
    out.resize(size);
    return out;
}

packer::Item MakeItem(const std::string& name, std::vector<std::uint8_t> data, packer::Method method) {
    return support::FileItem(name, std::move(data), method, {kItemTime, kItemTime, kItemTime});
}

// Mixed items until at least `bytes` bytes and `minItems` items: half of them
// text-like, three in ten binary-like, two in ten incompressible; sizes spread
// from 4 KiB to 3 MiB with a 12 MiB item every 25th; every 37th item stored.
void AddMixedItems(std::vector<packer::Item>& items, Random& random, std::uint64_t bytes, std::size_t minItems,
                   std::uint64_t& total) {
    static const char* const extensions[] = {".txt", ".dat", ".bin"};
    std::size_t n = 0;
    while (total < bytes || n < minItems) {
        std::size_t size;
        if (n % 25 == 24) {
            size = 12u << 20;
        } else {
            // Log-uniform between 4 KiB and 3 MiB.
            const double lo = 4096.0, hi = 3.0 * 1024 * 1024;
            size = static_cast<std::size_t>(lo * std::exp(random.Unit() * std::log(hi / lo)));
        }
        const int k = static_cast<int>(n % 10);
        const Kind kind = k < 5 ? Kind::Text : (k < 8 ? Kind::Binary : Kind::Noise);
        std::vector<std::uint8_t> data = kind == Kind::Text     ? TextData(random, size)
                                         : kind == Kind::Binary ? BinaryData(random, size)
                                                                : support::NoiseData(random, size);
        char name[96];
        std::snprintf(name, sizeof name, "data%02u/part%u/item%04u%s", static_cast<unsigned>(n % 12),
                      static_cast<unsigned>(n % 3), static_cast<unsigned>(n), extensions[static_cast<int>(kind)]);
        const packer::Method method = n % 37 == 5 ? packer::Method::Stored : packer::Method::Deflate;
        total += data.size();
        items.push_back(MakeItem(name, std::move(data), method));
        ++n;
    }
}

bool WriteArchive(const std::string& path, const std::vector<packer::Item>& items) {
    const packer::Packed packed = packer::Pack(items);
    if (!support::WriteWholeFile(path, packed.bytes)) return false;
    std::ofstream layout(path + ".layout", std::ios::trunc);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const packer::ItemLayout& l = packed.items[i];
        char line[64];
        std::snprintf(line, sizeof line, "%u %u %u %zu %08x ", static_cast<unsigned>(items[i].method),
                      static_cast<unsigned>(l.dataOffset), static_cast<unsigned>(l.compressedSize),
                      items[i].data.size(), static_cast<unsigned>(l.crc32));
        layout << line << items[i].name << '\n';
        total += items[i].data.size();
    }
    std::printf("%s: %zu items, %.1f MiB uncompressed, %.1f MiB archive\n", path.c_str(), items.size(),
                static_cast<double>(total) / 1048576.0, static_cast<double>(packed.bytes.size()) / 1048576.0);
    return static_cast<bool>(layout);
}

int Usage() {
    std::fputs(
        "usage: make_archive large OUT [MIB] | small OUT COUNT | setup OUT PROGRAM [MIB] | program OUT PROGRAM\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string what = argv[1];
    const std::string out = argv[2];
    std::vector<packer::Item> items;
    if (what == "large") {
        const std::uint64_t mib = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 256;
        Random random(0x4C41524B);  // "LARK"
        std::uint64_t total = 0;
        AddMixedItems(items, random, mib << 20, 200, total);
    } else if (what == "small") {
        if (argc < 4) return Usage();
        const unsigned long count = std::strtoul(argv[3], nullptr, 10);
        Random random(0x534D414C);  // "SMAL"
        for (unsigned long i = 0; i < count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "small/d%02lu/file%05lu.txt", i % 100, i);
            items.push_back(MakeItem(name, TextData(random, 200 + random.Below(3800)), packer::Method::Deflate));
        }
    } else if (what == "setup" || what == "program") {
        if (argc < 4) return Usage();
        std::optional<support::Bytes> program = support::ReadWholeFile(argv[3]);
        if (!program) {
            std::fprintf(stderr, "make_archive: cannot read %s\n", argv[3]);
            return 1;
        }
        items.push_back(MakeItem("BenchProgram.exe", std::move(*program), packer::Method::Deflate));
        if (what == "setup") {
            const std::uint64_t mib = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 128;
            Random random(0x53455455);  // "SETU"
            std::uint64_t total = 0;
            AddMixedItems(items, random, mib << 20, 0, total);
            Random licence(0x4C494345);
            std::vector<std::uint8_t> text = TextData(licence, 12000);
            const std::string head = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs18 ";
            text.insert(text.begin(), head.begin(), head.end());
            text.push_back('}');
            items.push_back(MakeItem("License.rtf", std::move(text), packer::Method::Deflate));
        }
    } else {
        return Usage();
    }
    if (!WriteArchive(out, items)) {
        std::fprintf(stderr, "make_archive: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
