// larkspan-pestamp: writes the correct PE header checksum into a linked file.
//
//   larkspan-pestamp FILE           stamp the checksum in place (exit 0, or 1 on failure)
//   larkspan-pestamp --check FILE   exit 0 when the stored checksum is non-zero and correct, else 1
//   larkspan-pestamp --sizes FILE...
//                                   prints the file's size, its sections' sizes in the file, the sizes of
//                                   the payload (RCDATA 118) and the animation (GIF 506), and the file's
//                                   size without the two: the part of a setup that is the program itself
#include "tools/pechecksum/pe_checksum.h"
#include "tools/pechecksum/pe_sizes.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Usage() {
    std::fputs(
        "usage: larkspan-pestamp FILE\n       larkspan-pestamp --check FILE\n"
        "       larkspan-pestamp --sizes FILE...\n",
        stderr);
    return 1;
}

// The resources that are not the program: the payload and the animation.
constexpr std::uint16_t kRcData = 10;
constexpr std::uint16_t kPayloadId = 118;
constexpr std::uint16_t kAnimationId = 506;

void PrintSize(const char* label, std::uint64_t bytes) {
    std::printf("  %-34s %10llu\n", label, static_cast<unsigned long long>(bytes));
}

int PrintSizes(const char* path) {
    std::vector<std::uint8_t> image;
    if (!ReadWhole(path, image)) {
        std::fprintf(stderr, "larkspan-pestamp: cannot read %s\n", path);
        return 1;
    }
    const std::vector<pechecksum::SectionSize> sections = pechecksum::SectionSizes(image);
    pechecksum::ResourceType rcData;
    rcData.id = kRcData;
    pechecksum::ResourceType gif;
    gif.name = "GIF";
    const auto payload = pechecksum::ResourceBytes(image, rcData, kPayloadId);
    const auto animation = pechecksum::ResourceBytes(image, gif, kAnimationId);
    if (sections.empty() || !payload || !animation) {
        std::fprintf(stderr, "larkspan-pestamp: %s is not a PE file, or its resources cannot be read\n", path);
        return 1;
    }
    std::printf("%s\n", path);
    PrintSize("file", image.size());
    for (const pechecksum::SectionSize& section : sections) {
        PrintSize(("section " + section.name).c_str(), section.fileBytes);
    }
    PrintSize("resource RCDATA 118 (payload)", *payload);
    PrintSize("resource GIF 506 (animation)", *animation);
    PrintSize("without payload and animation", image.size() - *payload - *animation);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--sizes") {
        int status = 0;
        for (int i = 2; i < argc; ++i) status |= PrintSizes(argv[i]);
        return status;
    }
    if (argc == 3 && std::string(argv[1]) == "--check") {
        std::vector<std::uint8_t> image;
        if (!ReadWhole(argv[2], image)) {
            std::fprintf(stderr, "larkspan-pestamp: cannot read %s\n", argv[2]);
            return 1;
        }
        const auto stored = pechecksum::StoredChecksum(image);
        const auto computed = pechecksum::ComputeChecksum(image);
        if (!stored || !computed) {
            std::fprintf(stderr, "larkspan-pestamp: %s is not a PE file\n", argv[2]);
            return 1;
        }
        const bool ok = pechecksum::HasValidChecksum(image);
        std::printf("%s: stored 0x%08X, computed 0x%08X: %s\n", argv[2], static_cast<unsigned>(*stored),
                    static_cast<unsigned>(*computed), ok ? "correct" : "NOT correct");
        return ok ? 0 : 1;
    }
    if (argc != 2 || argv[1][0] == '-') return Usage();

    std::vector<std::uint8_t> image;
    if (!ReadWhole(argv[1], image)) {
        std::fprintf(stderr, "larkspan-pestamp: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!pechecksum::StampChecksum(image)) {
        std::fprintf(stderr, "larkspan-pestamp: %s is not a PE file\n", argv[1]);
        return 1;
    }
    // Only the four checksum bytes change; rewrite them in place.
    const auto field = pechecksum::ChecksumFieldOffset(image);
    std::fstream out(argv[1], std::ios::binary | std::ios::in | std::ios::out);
    if (!out || !field) {
        std::fprintf(stderr, "larkspan-pestamp: cannot open %s for writing\n", argv[1]);
        return 1;
    }
    out.seekp(static_cast<std::streamoff>(*field));
    out.write(reinterpret_cast<const char*>(image.data() + *field), 4);
    out.close();
    if (!out) {
        std::fprintf(stderr, "larkspan-pestamp: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
