// CreateFolderPath on real folders under a temporary folder, given as full paths.
#include "setup/create_folder_path.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

namespace {

using support::FolderExists;
using support::TempFolder;

bool WriteSmallFile(const std::string& path) { return support::WriteWholeFile(path, {'a', 'b', 'c'}); }

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
    EXPECT_TRUE(FolderExists(temp / "A"));
    EXPECT_TRUE(FolderExists(temp / "A\\B"));
    EXPECT_TRUE(FolderExists(temp / "A\\B\\C"));
    // A path that ends in a separator.
    EXPECT_NE(Create(temp / "D\\E\\"), 0);
    EXPECT_TRUE(FolderExists(temp / "D\\E"));
}

TEST(CreateFolderPath, ForwardSlashesOnly) {
    TempFolder temp;
    EXPECT_NE(Create(ForwardSlashes(temp / "A/B")), 0);
    EXPECT_TRUE(FolderExists(temp / "A\\B"));
}

TEST(CreateFolderPath, BackslashesComeBeforeForwardSlashes) {
    TempFolder temp;
    // The first prefix after the temporary folder is "A/B\", whose parent A is missing.
    EXPECT_EQ(Create(temp / "A/B\\C"), 0);
    EXPECT_FALSE(FolderExists(temp / "A"));
    // With A present the same path works: "A/B\" first, then the rest.
    ASSERT_TRUE(::CreateDirectoryA((temp / "A").c_str(), nullptr));
    EXPECT_NE(Create(temp / "A/B\\C"), 0);
    EXPECT_TRUE(FolderExists(temp / "A\\B\\C"));
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
    EXPECT_FALSE(FolderExists(file + "\\sub"));
    // Folders made before a failure stay.
    EXPECT_EQ(Create(temp / "made\\bad|name\\x"), 0);
    EXPECT_TRUE(FolderExists(temp / "made"));
}

TEST(CreateFolderPath, UncRootIsNeverCreatedOnlyTheLevelsBelowIt) {
    TempFolder temp;
    // "\\?\C:\" has the UNC form: server "?", share "C:".
    EXPECT_NE(Create("\\\\?\\" + (temp / "A\\B")), 0);
    EXPECT_TRUE(FolderExists(temp / "A\\B"));
    EXPECT_NE(Create(ForwardSlashes("//?/" + (temp / "C/D"))), 0);
    EXPECT_TRUE(FolderExists(temp / "C\\D"));
}
