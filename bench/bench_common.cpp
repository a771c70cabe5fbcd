#include "bench/bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < 0x7FFFFFFF) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
            if (!::ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        bytes.resize(done);
    }
    ::CloseHandle(file);
    return bytes;
}

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

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(folder.c_str());
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
