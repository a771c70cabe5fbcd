// CreateFolderPath on real folders under a temporary folder, given as full paths.
#include "setup/create_folder_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

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

TEST(CreateFolderPath, CreatesEveryMissingFolder) {
    TempFolder temp;
    EXPECT_NE(Create(temp / "A\\B\\C"), 0);
    EXPECT_TRUE(IsFolder(temp / "A"));
    EXPECT_TRUE(IsFolder(temp / "A\\B"));
    EXPECT_TRUE(IsFolder(temp / "A\\B\\C"));
    // A path that ends in a separator.
    EXPECT_NE(Create(temp / "D\\E\\"), 0);
    EXPECT_TRUE(IsFolder(temp / "D\\E"));
}

TEST(CreateFolderPath, ForwardSlashesOnly) {
    TempFolder temp;
    EXPECT_NE(Create(ForwardSlashes(temp / "A/B")), 0);
    EXPECT_TRUE(IsFolder(temp / "A\\B"));
}

TEST(CreateFolderPath, BackslashesComeBeforeForwardSlashes) {
    TempFolder temp;
    // The first prefix after the temporary folder is "A/B\", whose parent A is missing.
    EXPECT_EQ(Create(temp / "A/B\\C"), 0);
    EXPECT_FALSE(IsFolder(temp / "A"));
    // With A present the same path works: "A/B\" first, then the rest.
    ASSERT_TRUE(::CreateDirectoryA((temp / "A").c_str(), nullptr));
    EXPECT_NE(Create(temp / "A/B\\C"), 0);
    EXPECT_TRUE(IsFolder(temp / "A\\B\\C"));
}

TEST(CreateFolderPath, ExistingFolderNeedsNoCreation) {
    TempFolder temp;
    EXPECT_EQ(Create(temp.path()), 1);
    EXPECT_EQ(Create(temp.path() + "\\"), 1);
}

TEST(CreateFolderPath, FailuresGiveZero) {
    TempFolder temp;
    EXPECT_EQ(Create(""), 0);
    // A file stands where a folder should be.
    const std::string file = temp / "file";
    ASSERT_TRUE(WriteSmallFile(file));
    EXPECT_EQ(Create(file + "\\sub\\deeper"), 0);
    EXPECT_FALSE(IsFolder(file + "\\sub"));
    // Folders made before a failure stay.
    EXPECT_EQ(Create(temp / "made\\bad|name\\x"), 0);
    EXPECT_TRUE(IsFolder(temp / "made"));
}

TEST(CreateFolderPath, UncRootIsNeverCreatedOnlyTheLevelsBelowIt) {
    TempFolder temp;
    // "\\?\C:\" has the UNC form: server "?", share "C:".
    EXPECT_NE(Create("\\\\?\\" + (temp / "A\\B")), 0);
    EXPECT_TRUE(IsFolder(temp / "A\\B"));
    EXPECT_NE(Create(ForwardSlashes("//?/" + (temp / "C/D"))), 0);
    EXPECT_TRUE(IsFolder(temp / "C\\D"));
}
