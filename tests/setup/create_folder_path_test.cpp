// CreateFolderPath on real folders under a temporary folder, given as full paths.
#include "setup/create_folder_path.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

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
        for (const char* folder : c.folders) EXPECT_TRUE(FolderExists(temp / folder)) << folder;
        for (const char* name : c.absent) EXPECT_FALSE(FolderExists(temp / name)) << name;
    }
}
