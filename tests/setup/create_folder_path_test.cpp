// CreateFolderPath on real folders under a temporary folder, given as full paths.
#include "setup/create_folder_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Removes a folder tree (files and folders) below and including `path`.
void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(child);
            } else {
                ::DeleteFileA(child.c_str());
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

// A fresh folder under the temporary folder, removed with its contents at the end.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        ::GetTempPathA(MAX_PATH, base);
        for (unsigned n = 0;; ++n) {
            path_ = std::string(base) + "larkspan-folder-" + std::to_string(::GetCurrentProcessId()) + "-" +
                    std::to_string(n);
            if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() { RemoveTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WriteSmallFile(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, "abc", 3, &written, nullptr);
    ::CloseHandle(file);
    return ok && written == 3;
}

// Calls CreateFolderPath on a writable copy and checks that it gives the path back unchanged.
int Create(const std::string& path) {
    std::string buffer = path;
    const int result = CreateFolderPath(buffer.data());
    EXPECT_EQ(buffer, path);
    return result;
}

std::string ForwardSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

// Paths below one temporary folder, in order: a row may rely on what the rows
// before it made. Folders made before a failure stay.
TEST(CreateFolderPath, CreatesWhatIsMissingAndGivesZeroOnFailure) {
    constexpr int kMade = -1;  // any non-zero result
    struct Case {
        const char* before;    // in front of the temporary folder
        const char* relative;  // joined to it by a backslash
        bool forward;          // every separator of the whole path a forward slash
        int result;
        std::vector<const char*> folders, absent;  // below the temporary folder, afterwards
    };
    const Case cases[] = {
        {"", "A\\B\\C", false, kMade, {"A", "A\\B", "A\\B\\C"}, {}},
        {"", "D\\E\\", false, kMade, {"D\\E"}, {}},
        {"", "F/G", true, kMade, {"F\\G"}, {}},
        // Backslashes come first: the first prefix is "H/I\", whose parent H is missing.
        {"", "H/I\\J", false, 0, {}, {"H"}},
        {"", "H", false, kMade, {"H"}, {}},
        {"", "H/I\\J", false, kMade, {"H\\I\\J"}, {}},
        // Existing folders need no creation.
        {"", "A\\B\\C", false, 1, {}, {}},
        {"", "A\\", false, 1, {}, {}},
        // "\\?\C:\" has the UNC form, server "?" and share "C:": only the levels below are created.
        {"\\\\?\\", "K\\L", false, kMade, {"K\\L"}, {}},
        {"\\\\?\\", "M/N", true, kMade, {"M\\N"}, {}},
        // A file where a folder should be; a name the system refuses.
        {"", "file\\sub\\deeper", false, 0, {}, {"file\\sub"}},
        {"", "made\\bad|name\\x", false, 0, {"made"}, {}},
    };
    TempFolder temp;
    ASSERT_TRUE(WriteSmallFile(temp / "file"));
    EXPECT_EQ(Create(""), 0);
    for (const Case& c : cases) {
        std::string path = c.before + (temp / c.relative);
        if (c.forward) path = ForwardSlashes(path);
        SCOPED_TRACE(path);
        const int result = Create(path);
        if (c.result == kMade) {
            EXPECT_NE(result, 0);
        } else {
            EXPECT_EQ(result, c.result);
        }
        for (const char* folder : c.folders) EXPECT_TRUE(IsFolder(temp / folder)) << folder;
        for (const char* name : c.absent) EXPECT_FALSE(IsFolder(temp / name)) << name;
    }
}
