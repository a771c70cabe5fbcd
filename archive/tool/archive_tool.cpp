// larkspan-archive: lists, extracts and prints items of a setup payload archive
// through the four archive operations, for makers and for checking archives.
//
//   larkspan-archive [--handle] list ARCHIVE
//   larkspan-archive [--handle] extract ARCHIVE DIR
//   larkspan-archive [--handle] cat ARCHIVE INDEX
//
// ARCHIVE is opened by file name, or with --handle through an open OS handle.
#include "archive/archive.h"
#include "archive/stored_name.h"
#include "setup/create_folder_path.h"
#include "common/unique_handle.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fputs(
        "usage: larkspan-archive [--handle] list ARCHIVE\n"
        "       larkspan-archive [--handle] extract ARCHIVE DIR\n"
        "       larkspan-archive [--handle] cat ARCHIVE INDEX\n",
        stderr);
    return 2;
}

// An open archive together with the OS handle it was opened through, if any.
class OpenedArchive {
public:
    OpenedArchive(const char* path, bool throughHandle) noexcept {
        if (throughHandle) {
            file_.reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file_) archive_ = OpenArchive(file_.get(), 0, SourceHandle);
        } else {
            archive_ = OpenArchive(path, 0, SourceFileName);
        }
    }
    OpenedArchive(const OpenedArchive&) = delete;
    OpenedArchive& operator=(const OpenedArchive&) = delete;
    ~OpenedArchive() {
        if (archive_ != nullptr) static_cast<void>(CloseArchive(archive_));
    }
    [[nodiscard]] ArchiveHandle get() const noexcept { return archive_; }

private:
    win32::UniqueFile file_;
    ArchiveHandle archive_ = nullptr;
};

bool ItemCount(ArchiveHandle archive, int* count) {
    ArchiveItem item;
    const ArchiveResult result = GetArchiveItem(archive, -1, &item);
    if (result != ArchiveOk) {
        std::fprintf(stderr, "cannot count the items: 0x%08lX\n", static_cast<unsigned long>(result));
        return false;
    }
    *count = item.index;
    return true;
}

int List(ArchiveHandle archive) {
    int count = 0;
    if (!ItemCount(archive, &count)) return 1;
    for (int i = 0; i < count; ++i) {
        ArchiveItem item;
        const ArchiveResult result = GetArchiveItem(archive, i, &item);
        if (result != ArchiveOk) {
            std::fprintf(stderr, "item %d: 0x%08lX\n", i, static_cast<unsigned long>(result));
            return 1;
        }
        SYSTEMTIME t{};
        ::FileTimeToSystemTime(&item.writeTime, &t);
        std::printf("%d\t%lu\t%lu\t0x%08lX\t%04u-%02u-%02uT%02u:%02u:%02uZ\t%s\n", item.index,
                    static_cast<unsigned long>(item.uncompressedSize), static_cast<unsigned long>(item.compressedSize),
                    static_cast<unsigned long>(item.attributes), t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                    t.wSecond, item.name);
    }
    return 0;
}

int Extract(const char* archivePath, bool throughHandle, const char* dirArgument) {
    // Folder items are created below the current directory at opening time,
    // so the tool opens the archive from inside the target folder.
    char archiveFull[MAX_PATH];
    char dir[MAX_PATH];
    if (::GetFullPathNameA(archivePath, MAX_PATH, archiveFull, nullptr) - 1 >= MAX_PATH - 1 ||
        ::GetFullPathNameA(dirArgument, MAX_PATH, dir, nullptr) - 1 >= MAX_PATH - 2) {
        std::fputs("path too long\n", stderr);
        return 1;
    }
    static_cast<void>(CreateFolderPath(dir));
    if (!::SetCurrentDirectoryA(dir)) {
        std::fprintf(stderr, "cannot enter %s\n", dir);
        return 1;
    }
    OpenedArchive opened(archiveFull, throughHandle);
    if (opened.get() == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", archivePath);
        return 1;
    }
    int count = 0;
    if (!ItemCount(opened.get(), &count)) return 1;
    std::string prefix = dir;
    if (prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        ArchiveItem item;
        ArchiveResult result = GetArchiveItem(opened.get(), i, &item);
        const bool named = result == ArchiveOk;  // a failed call leaves the record unset
        if (named) {
            const std::string target = prefix + item.name;
            if (!StoredNameStaysInside(item.name) || target.size() >= MAX_PATH) {
                result = ArchiveErrOpenFile;  // never write outside DIR
            } else {
                result = ExtractArchiveItem(opened.get(), i, const_cast<char*>(target.c_str()), 0, TargetFileName,
                                            nullptr);
            }
        }
        if (result != ArchiveOk) {
            std::fprintf(stderr, "item %d (%s): 0x%08lX\n", i, named ? item.name : "unreadable",
                         static_cast<unsigned long>(result));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

int Cat(ArchiveHandle archive, const char* indexText) {
    char* end = nullptr;
    const long index = std::strtol(indexText, &end, 10);
    if (end == indexText || *end != '\0') return Usage();
    ArchiveItem item;
    ArchiveResult result = GetArchiveItem(archive, static_cast<int>(index), &item);
    if (result != ArchiveOk) {
        std::fprintf(stderr, "item %ld: 0x%08lX\n", index, static_cast<unsigned long>(result));
        return 1;
    }
    // Extracted straight to the standard output handle: only the bytes the item
    // really delivered are written, chunk by chunk, up to a damaged part.
    std::fflush(stdout);
    result = ExtractArchiveItem(archive, static_cast<int>(index), ::GetStdHandle(STD_OUTPUT_HANDLE), 0, TargetHandle,
                                nullptr);
    if (result != ArchiveOk) {
        std::fprintf(stderr, "item %ld: 0x%08lX\n", index, static_cast<unsigned long>(result));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    bool throughHandle = false;
    std::vector<const char*> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--handle") == 0) {
            throughHandle = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.empty()) return Usage();
    const std::string command = args[0];
    if (command == "extract") {
        if (args.size() != 3) return Usage();
        return Extract(args[1], throughHandle, args[2]);
    }
    if ((command != "list" || args.size() != 2) && (command != "cat" || args.size() != 3)) return Usage();
    OpenedArchive opened(args[1], throughHandle);
    if (opened.get() == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", args[1]);
        return 1;
    }
    return command == "list" ? List(opened.get()) : Cat(opened.get(), args[2]);
}
