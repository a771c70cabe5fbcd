// Small helpers shared by the benchmark programs: medians, the layout files
// that make_archive writes, and item paths.
#pragma once

#include "tests/support/bytes.h"
#include "tests/support/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// From the test programs' helper library: the clock, whole files, folder removal.
using support::Now;
using support::ReadWholeFile;
using support::RemoveTree;

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

// The layout file beside an archive (path + ".layout").
std::vector<LayoutItem> ReadLayout(const std::string& archivePath);
// Creates every missing folder of the folder part of `path` ("a\b\c.txt" makes
// a and a\b); `made` remembers folders already made in this run.
void MakeParentFolders(const std::string& path, std::vector<std::string>& made);
// folder + "\" + stored name (separators in the name kept, as the setup does).
std::string JoinItemPath(const std::string& folder, const std::string& name);

}  // namespace bench
