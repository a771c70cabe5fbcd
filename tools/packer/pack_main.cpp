// larkspan-pack: packs files into the payload archive form.
//
//   larkspan-pack [--time UNIXSECONDS] [--store|--deflate] [--level N] [--prepend FILE]
//                 [--comment TEXT] [--data-descriptor] [--attributes 0xHEX] [--folder NAME]
//                 [--standard-signature] [--jobs N] [--quiet] -o OUT ITEM...
//
// ITEM is [storedName=]path; the stored name defaults to the file's base name.
// --store, --deflate, --level, --data-descriptor and --attributes apply to the
// items that follow them; --folder adds a folder item at its place in the order.
// --time gives every item all three times; without it SOURCE_DATE_EPOCH is used,
// else 0. The output depends only on the inputs, these options and the versions
// of libdeflate and Zopfli: at the default level 12 each item is deflated by both
// and the smaller output kept; --level 1..11 is libdeflate's level alone. An item
// whose deflate data would not be smaller than the item itself is stored.
// The deflating runs on --jobs threads (default: one per core), the output the
// same for any number; while it runs, standard error says how far it is, at
// most once a second, unless --quiet.
#include "tools/packer/host_deflaters.h"
#include "tools/packer/parallel_deflate.h"
#include "tools/packer/zip_packer.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

void PrintUsage() {
    std::fputs(
        "usage: larkspan-pack [--time UNIXSECONDS] [--store|--deflate] [--level N]\n"
        "                     [--prepend FILE] [--comment TEXT] [--data-descriptor]\n"
        "                     [--attributes 0xHEX] [--folder NAME] [--standard-signature]\n"
        "                     [--jobs N] [--quiet] -o OUT [storedName=]path...\n"
        "Items are deflated; one that deflate would not make smaller is stored.\n"
        "--level N: 1..12, default 12, the smallest output: each item deflated by both\n"
        "           libdeflate (level 12) and Zopfli, the smaller kept (slow: about 0.1 MB/s a core).\n"
        "           1..11: libdeflate's level N alone, much faster; a zlib level N (1..9)\n"
        "           maps to the same N, which libdeflate makes a little smaller.\n"
        "--jobs N:  deflate on N threads (default: one per core); the output is the same.\n"
        "--quiet:   no progress on standard error.\n",
        stderr);
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::optional<std::uint32_t> ParseUnsigned(const std::string& text, int base) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || end == nullptr || *end != '\0' || value > 0xFFFFFFFFull || text[0] == '-') {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct PendingItem {
    packer::Item item;
    std::string path;  // empty for folder items
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "larkspan-pack: %s\n", message.c_str());
    return 1;
}

// More threads than this gain nothing on any machine and only cost memory
// (Zopfli needs some 22 MiB for each part it works on).
constexpr unsigned kMostJobs = 1024;

std::string Duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[40];
    if (s < 60) {
        std::snprintf(text, sizeof text, "%ld s", s);
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "%ld min %ld s", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld h %ld min", s / 3600, s / 60 % 60);
    }
    return text;
}

// How far the deflating is, on standard error at most once a second: on a
// terminal one line rewritten in place, elsewhere (a build's log) one line
// each time. The time left is the time so far scaled by the bytes still to do.
class ProgressReport {
public:
    void Update(const packer::DeflateProgress& progress) {
        const Clock::time_point now = Clock::now();
        if (shown_ && now - last_ < std::chrono::seconds(1)) return;
        shown_ = true;
        last_ = now;
        Show(progress, false);
    }
    // The last state, once the deflating has ended.
    void Finish(const packer::DeflateProgress& progress) { Show(progress, true); }

private:
    using Clock = std::chrono::steady_clock;

    void Show(const packer::DeflateProgress& p, bool finished) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        std::string time;
        if (finished) {
            time = "done in " + Duration(elapsed);
        } else if (p.bytesDone >= p.bytes) {
            time = "finishing";
        } else if (p.bytesDone == 0) {
            time = "estimating the time left";
        } else {
            time = "about " + Duration(elapsed * static_cast<double>(p.bytes - p.bytesDone) / p.bytesDone) + " left";
        }
        constexpr double kMegabyte = 1e6;
        std::fprintf(stderr, "%slarkspan-pack: %zu of %zu items, %.1f of %.1f MB deflated, %s%s", terminal_ ? "\r" : "",
                     p.itemsDone, p.items, p.bytesDone / kMegabyte, p.bytes / kMegabyte, time.c_str(),
                     terminal_ ? "\x1b[K" : "\n");
        if (terminal_ && finished) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    const bool terminal_ = isatty(fileno(stderr)) != 0;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point last_;
    bool shown_ = false;
};

int Run(int argc, char** argv) {
    std::optional<std::uint32_t> time;
    unsigned jobs = packer::AvailableCores();
    bool quiet = false;
    std::string outPath;
    std::string prependPath;
    packer::Options options;
    options.deflater = packer::SmallestDeflate;
    options.storeWhenNotSmaller = true;

    // Per-item settings in force for the items that follow.
    packer::Method method = packer::Method::Deflate;
    int level = packer::kLibdeflateSmallestLevel;
    bool dataDescriptor = false;
    std::uint32_t attributes = 0;
    std::vector<PendingItem> pending;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto needValue = [&]() -> bool {
            if (!hasValue) Fail("option " + arg + " needs a value");
            return hasValue;
        };
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        } else if (arg == "--time") {
            if (!needValue()) return 1;
            time = ParseUnsigned(argv[++i], 10);
            if (!time) return Fail("bad --time value");
        } else if (arg == "--store") {
            method = packer::Method::Stored;
        } else if (arg == "--deflate") {
            method = packer::Method::Deflate;
        } else if (arg == "--level") {
            if (!needValue()) return 1;
            const auto value = ParseUnsigned(argv[++i], 10);
            if (!value || *value < packer::kLibdeflateFastestLevel || *value > packer::kLibdeflateSmallestLevel) {
                return Fail("--level takes 1..12");
            }
            level = static_cast<int>(*value);
        } else if (arg == "--prepend") {
            if (!needValue()) return 1;
            prependPath = argv[++i];
        } else if (arg == "--comment") {
            if (!needValue()) return 1;
            options.comment = argv[++i];
            if (options.comment.size() > 0xFFFF) return Fail("comment longer than 65535 bytes");
        } else if (arg == "--data-descriptor") {
            dataDescriptor = true;
        } else if (arg == "--attributes") {
            if (!needValue()) return 1;
            const auto value = ParseUnsigned(argv[++i], 16);
            if (!value) return Fail("bad --attributes value (hexadecimal expected)");
            attributes = *value;
        } else if (arg == "--jobs") {
            if (!needValue()) return 1;
            const auto value = ParseUnsigned(argv[++i], 10);
            if (!value || *value < 1 || *value > kMostJobs) return Fail("--jobs takes 1.." + std::to_string(kMostJobs));
            jobs = *value;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--standard-signature") {
            options.standardLocalSignature = true;
        } else if (arg == "--folder") {
            if (!needValue()) return 1;
            PendingItem folder;
            folder.item.name = argv[++i];
            if (folder.item.name.empty() || folder.item.name.back() != '/') folder.item.name += '/';
            folder.item.folder = true;
            folder.item.method = packer::Method::Stored;
            folder.item.externalAttributes = attributes;
            folder.item.dataDescriptor = dataDescriptor;
            pending.push_back(folder);
        } else if (arg == "-o" || arg == "--output") {
            if (!needValue()) return 1;
            outPath = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            PrintUsage();
            return Fail("unknown option " + arg);
        } else {
            PendingItem file;
            const std::size_t equals = arg.find('=');
            file.path = equals == std::string::npos ? arg : arg.substr(equals + 1);
            file.item.name = equals == std::string::npos ? BaseName(arg) : arg.substr(0, equals);
            if (file.item.name.empty() || file.path.empty()) return Fail("bad item " + arg);
            file.item.method = method;
            file.item.level = level;
            file.item.dataDescriptor = dataDescriptor;
            file.item.externalAttributes = attributes;
            pending.push_back(file);
        }
    }
    if (outPath.empty()) {
        PrintUsage();
        return Fail("no output file (-o OUT)");
    }
    if (pending.size() > 0xFFFF) return Fail("too many items");

    if (!time) {
        const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
        time = epoch != nullptr ? ParseUnsigned(epoch, 10) : std::uint32_t{0};
        if (!time) return Fail("SOURCE_DATE_EPOCH is not a number of seconds");
    }
    if (!prependPath.empty()) {
        auto bytes = ReadFile(prependPath);
        if (!bytes) return Fail("cannot read " + prependPath);
        options.prepend = std::move(*bytes);
    }

    std::vector<packer::Item> items;
    for (PendingItem& p : pending) {
        if (!p.item.folder) {
            auto bytes = ReadFile(p.path);
            if (!bytes) return Fail("cannot read " + p.path);
            p.item.data = std::move(*bytes);
        }
        p.item.modificationTime = *time;
        p.item.accessTime = *time;
        p.item.creationTime = *time;
        items.push_back(std::move(p.item));
    }

    ProgressReport report;
    packer::DeflateProgress last;
    const auto onProgress = [&](const packer::DeflateProgress& progress) {
        last = progress;
        report.Update(progress);
    };
    std::vector<std::vector<std::uint8_t>> deflated = packer::DeflateItems(
        items, jobs, quiet ? packer::DeflateProgressSink() : onProgress);
    if (!quiet) report.Finish(last);
    const packer::Packed packed = packer::PackDeflated(items, std::move(deflated), options);
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    if (!out) return Fail("cannot create " + outPath);
    out.write(reinterpret_cast<const char*>(packed.bytes.data()), static_cast<std::streamsize>(packed.bytes.size()));
    out.close();
    if (!out) return Fail("cannot write " + outPath);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
}
