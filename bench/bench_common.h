// Small helpers shared by the benchmark programs: a clock, medians, whole-file
// reads, the layout files that make_archive writes, and folder clean-up.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Seconds since an arbitrary origin, from the performance counter.
inline double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One item as make_archive laid it out.
struct LayoutItem {
    int method = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    std::string name;
};

// The whole file in memory; empty when it cannot be read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
// The layout file beside an archive (path + ".layout").
std::vector<LayoutItem> ReadLayout(const std::string& archivePath);
// Deletes a folder and everything below it (read-only files included).
void RemoveTree(const std::string& folder);
// Creates every missing folder of the folder part of `path` ("a\b\c.txt" makes
// a and a\b); `made` remembers folders already made in this run.
void MakeParentFolders(const std::string& path, std::vector<std::string>& made);
// folder + "\" + stored name (separators in the name kept, as the setup does).
std::string JoinItemPath(const std::string& folder, const std::string& name);

}  // namespace bench
