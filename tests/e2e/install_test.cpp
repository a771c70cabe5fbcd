// Whole installations that succeed: every item lands byte for byte with its
// times, and the first item is started once with /Install in the destination.
#include "tests/e2e/support/e2e_support.h"

#include <algorithm>

namespace e2e {
namespace {

struct Item {
    const char* stored;  // path below the destination, Windows separators
    std::string source;
};

std::vector<Item> BasicItems() {
    return {{"Recorder.exe", RecorderPath()},
            {"readme.txt", DataPath("readme.txt")},
            {"docs\\notes.txt", DataPath("notes.txt")},
            {"License.rtf", DataPath("License.rtf")}};
}

// Whether this file system keeps a creation time that a program sets.
bool CreationTimeIsKept(const TempFolder& folder) {
    const std::string probe = folder / "creation-probe";
    HANDLE file = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const FILETIME wanted = FileTimeOf(LARKSPAN_E2E_CTIME);
    ::SetFileTime(file, &wanted, nullptr, nullptr);
    ::CloseHandle(file);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(probe.c_str(), GetFileExInfoStandard, &data);
    ::DeleteFileA(probe.c_str());
    return Ticks(data.ftCreationTime) == Ticks(wanted);
}

// Every item of the basic variant in place with its contents and its times.
void ExpectItemsInPlace(const std::string& folder, bool checkCreation) {
    const std::vector<Item> items = BasicItems();
    for (const Item& item : items) {
        const std::string path = folder + "\\" + item.stored;
        SCOPED_TRACE(path);
        // Times first: reading the contents may move the access time.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << "missing";
        EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(FileTimeOf(LARKSPAN_E2E_MTIME))) << "modification time";
        // Starting the program reads it, which moves its access time.
        if (&item != &items.front()) {
            EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(FileTimeOf(LARKSPAN_E2E_ATIME))) << "access time";
        }
        if (checkCreation) {
            EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(FileTimeOf(LARKSPAN_E2E_CTIME))) << "creation time";
        }
        const auto written = ReadWholeFile(path);
        const auto original = ReadWholeFile(item.source);
        ASSERT_TRUE(written.has_value());
        ASSERT_TRUE(original.has_value()) << item.source;
        EXPECT_TRUE(*written == *original)
            << "contents differ (" << written->size() << " bytes written, " << original->size() << " packed)";
    }
}

// The walk from start to report with a destination that needs no question.
bool SameFolder(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// The destination as the user types it: the folder below a fresh temporary
// folder (itself when `below` is empty), typed as an absolute path, with a
// trailing backslash, or relative to the setup's current directory. A missing
// folder is asked for once (question IDS_ASK_CREATE_FOLDER, naming the absolute folder) and
// created on Yes.
struct Destination {
    const char* name;
    const char* below;
    enum Form { Absolute, TrailingBackslash, Relative } form;
};
void PrintTo(const Destination& d, std::ostream* out) { *out << d.name; }

class Destinations : public ::testing::TestWithParam<Destination> {};

TEST_P(Destinations, SucceedsWithEveryItemInPlaceAndStartsTheFirstItemOnceInTheFolder) {
    const Destination& d = GetParam();
    TempFolder root(d.name);
    const std::string folder = *d.below ? root / d.below : root.path();
    const bool missing = *d.below != '\0';
    const bool creation = CreationTimeIsKept(root);
    if (!creation) std::printf("note: this file system keeps no creation time; it is not compared\n");

    SetupProcess setup;
    ASSERT_TRUE(setup.Start(SetupPath("basic"), d.form == Destination::Relative ? root.path() : std::string()))
        << setup.error();
    HWND main = AgreeToLicence(setup);
    ASSERT_NE(main, nullptr);
    InstallInto(main, d.form == Destination::Relative            ? d.below
                      : d.form == Destination::TrailingBackslash ? folder + "\\"
                                                                 : folder);
    if (missing) {
        HWND question = setup.WaitForMessageBox(kAppearMs);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(ReadMessageBox(question).text, Format(kString106, folder)) << "the question names the real folder";
        Answer(setup, question, IDYES);
    }
    const Report report = FinishWithReport(setup);
    EXPECT_EQ(report.box.text, kString112);
    EXPECT_EQ(report.exitCode, 1u);
    const auto boxes = setup.SeenMessageBoxes();
    EXPECT_EQ(boxes.size(), missing ? 2u : 1u) << "an existing folder installs without a question:\n"
                                               << Describe(boxes);

    ExpectItemsInPlace(folder, creation);

    const RecorderLog log = ReadRecorderLog(folder + "\\recorder.log");
    ASSERT_TRUE(log.present) << "the first item was not started";
    EXPECT_EQ(log.get("cmdline"), "\"" + folder + "\\Recorder.exe\" /Install")
        << "quoted, with one backslash between the folder and the item name";
    EXPECT_TRUE(SameFolder(log.get("cwd"), folder)) << "current directory " << log.get("cwd");
    EXPECT_EQ(log.get("exit"), "0");
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const std::string& line) { return line.rfind("pid=", 0) == 0; }),
              1)
        << "started exactly once";
}

INSTANTIATE_TEST_SUITE_P(Install, Destinations,
                         ::testing::Values(Destination{"ExistingFolder", "", Destination::Absolute},
                                           Destination{"FolderWithBlanks", "Program Files Test\\Lark span",
                                                       Destination::Absolute},
                                           Destination{"TrailingBackslash", "", Destination::TrailingBackslash},
                                           Destination{"RelativeFolder", "rel dest", Destination::Relative}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Install, ProgramEndingWithExitCodeThreeStillSucceeds) {
    TempFolder folder("exit3");
    SetupProcess setup;
    const Report report = InstallAndReport(setup, "exit3", folder.path());
    EXPECT_EQ(report.box.text, kString112);
    EXPECT_EQ(report.exitCode, 1u);
    const RecorderLog log = ReadRecorderLog(folder / "recorder.log");
    ASSERT_TRUE(log.present);
    EXPECT_EQ(log.get("exit"), "3");
    EXPECT_EQ(log.get("cmdline"), "\"" + folder.path() + "\\Recorder-exit3.exe\" /Install");
}

TEST(Install, RunningAgainReplacesFilesReadOnlyOnesIncluded) {
    TempFolder folder("rerun");
    {
        SetupProcess first;
        EXPECT_EQ(InstallAndReport(first, "basic", folder.path()).box.text, kString112);
    }
    const std::string readme = folder / "readme.txt";
    const std::string notes = folder / "docs\\notes.txt";
    ASSERT_TRUE(WriteWholeFile(readme, {'o', 'l', 'd'}));
    ASSERT_TRUE(WriteWholeFile(notes, std::vector<std::uint8_t>(100000, 'x')));
    ASSERT_TRUE(::SetFileAttributesA(readme.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesA(notes.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ::DeleteFileA((folder / "recorder.log").c_str());

    SetupProcess second;
    const Report report = InstallAndReport(second, "basic", folder.path());
    EXPECT_EQ(report.box.text, kString112);
    ExpectItemsInPlace(folder.path(), CreationTimeIsKept(folder));
    EXPECT_TRUE(ReadRecorderLog(folder / "recorder.log").present);
}

}  // namespace
}  // namespace e2e
