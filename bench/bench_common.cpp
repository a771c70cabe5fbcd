#include "bench/bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

std::vector<LayoutItem> ReadLayout(const std::string& archivePath) {
    std::vector<LayoutItem> items;
    std::FILE* file = std::fopen((archivePath + ".layout").c_str(), "r");
    if (file == nullptr) return items;
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        LayoutItem item;
        unsigned method = 0, offset = 0, compressed = 0, uncompressed = 0, crc = 0;
        int consumed = 0;
        if (std::sscanf(line, "%u %u %u %u %x %n", &method, &offset, &compressed, &uncompressed, &crc, &consumed) < 5) {
            continue;
        }
        item.method = static_cast<int>(method);
        item.dataOffset = offset;
        item.compressedSize = compressed;
        item.uncompressedSize = uncompressed;
        item.crc = crc;
        item.name = line + consumed;
        while (!item.name.empty() && (item.name.back() == '\n' || item.name.back() == '\r')) item.name.pop_back();
        items.push_back(item);
    }
    std::fclose(file);
    return items;
}

void MakeParentFolders(const std::string& path, std::vector<std::string>& made) {
    for (std::size_t i = 3; i < path.size(); ++i) {
        if (path[i] != '\\' && path[i] != '/') continue;
        const std::string folder = path.substr(0, i);
        if (std::find(made.begin(), made.end(), folder) != made.end()) continue;
        ::CreateDirectoryA(folder.c_str(), nullptr);
        made.push_back(folder);
    }
}

std::string JoinItemPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

}  // namespace bench
