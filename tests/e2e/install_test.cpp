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
    HANDLE file = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const FILETIME wanted = FileTimeOf(LARKSPAN_E2E_CTIME);
    ::SetFileTime(file, &wanted, nullptr, nullptr);
    ::CloseHandle(file);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(probe.c_str(), GetFileExInfoStandard, &data);
    ::DeleteFileA(probe.c_str());
    return Ticks(data.ftCreationTime) == Ticks(wanted);
}

void ExpectItemsInPlace(const std::string& folder, const std::vector<Item>& items, bool checkTimes,
                        bool checkCreation) {
    for (const Item& item : items) {
        const std::string path = folder + "\\" + item.stored;
        SCOPED_TRACE(path);
        // Times first: reading the contents may move the access time.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << "missing";
        if (checkTimes) {
            EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(FileTimeOf(LARKSPAN_E2E_MTIME))) << "modification time";
            // Starting the program reads it, which moves its access time.
            if (&item != &items.front()) {
                EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(FileTimeOf(LARKSPAN_E2E_ATIME))) << "access time";
            }
            if (checkCreation) {
                EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(FileTimeOf(LARKSPAN_E2E_CTIME))) << "creation time";
            }
        }
        const auto written = ReadWholeFile(path);
        const auto original = ReadWholeFile(item.source);
        ASSERT_TRUE(written.has_value());
        ASSERT_TRUE(original.has_value()) << item.source;
        EXPECT_TRUE(*written == *original) << "contents differ (" << written->size() << " bytes written, "
                                           << original->size() << " packed)";
    }
}

// The walk from start to report with a destination that needs no question
// (or one question 106, answered Yes, when `expectCreateQuestion`).
Report Install(SetupProcess& setup, const std::string& variant, const std::string& folder,
               bool expectCreateQuestion = false) {
    HWND main = StartToMainDialog(setup, SetupPath(variant));
    if (!main) return {};
    InstallInto(main, folder);
    if (expectCreateQuestion) {
        HWND question = setup.WaitForMessageBox(kAppearMs);
        EXPECT_NE(question, nullptr);
        if (!question) return {};
        EXPECT_EQ(ReadMessageBox(question).text, Format(kString106, folder));
        Answer(setup, question, IDYES);
    }
    return FinishWithReport(setup);
}

bool SameFolder(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

TEST(Install, SucceedsWithEveryItemInPlaceAndStartsTheFirstItemOnce) {
    TempFolder folder("install");
    const bool creation = CreationTimeIsKept(folder);
    if (!creation) std::printf("note: this file system keeps no creation time; it is not compared\n");
    SetupProcess setup;
    const Report report = Install(setup, "basic", folder.path());
    EXPECT_EQ(report.box.text, kString112);
    EXPECT_EQ(report.exitCode, 1u);
    const auto boxes = setup.SeenMessageBoxes();
    EXPECT_EQ(boxes.size(), 1u) << "an existing folder installs without a question:\n" << Describe(boxes);

    ExpectItemsInPlace(folder.path(), BasicItems(), true, creation);

    const RecorderLog log = ReadRecorderLog(folder / "recorder.log");
    ASSERT_TRUE(log.present) << "the first item was not started";
    EXPECT_EQ(log.get("cmdline"), "\"" + folder.path() + "\\Recorder.exe\" /Install");
    EXPECT_TRUE(SameFolder(log.get("cwd"), folder.path())) << "current directory " << log.get("cwd");
    EXPECT_EQ(log.get("exit"), "0");
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const std::string& line) { return line.rfind("pid=", 0) == 0; }),
              1) << "started exactly once";
}

TEST(Install, FolderWithBlanksIsCreatedAndTheProgramPathQuoted) {
    TempFolder root("blanks");
    const std::string folder = root.path() + "\\Program Files Test\\Lark span";
    SetupProcess setup;
    const Report report = Install(setup, "basic", folder, true);
    EXPECT_EQ(report.box.text, kString112);
    ExpectItemsInPlace(folder, BasicItems(), false, false);
    const RecorderLog log = ReadRecorderLog(folder + "\\recorder.log");
    ASSERT_TRUE(log.present);
    EXPECT_EQ(log.get("cmdline"), "\"" + folder + "\\Recorder.exe\" /Install");
    EXPECT_TRUE(SameFolder(log.get("cwd"), folder)) << log.get("cwd");
    EXPECT_EQ(log.get("exit"), "0");
}

TEST(Install, ProgramEndingWithExitCodeThreeStillSucceeds) {
    TempFolder folder("exit3");
    SetupProcess setup;
    const Report report = Install(setup, "exit3", folder.path());
    EXPECT_EQ(report.box.text, kString112);
    EXPECT_EQ(report.exitCode, 1u);
    const RecorderLog log = ReadRecorderLog(folder / "recorder.log");
    ASSERT_TRUE(log.present);
    EXPECT_EQ(log.get("exit"), "3");
    EXPECT_EQ(log.get("cmdline"), "\"" + folder.path() + "\\Recorder-exit3.exe\" /Install");
}

TEST(Install, DestinationEndingInBackslashGivesSingleSeparators) {
    TempFolder folder("backslash");
    SetupProcess setup;
    const Report report = Install(setup, "basic", folder.path() + "\\");
    EXPECT_EQ(report.box.text, kString112);
    ExpectItemsInPlace(folder.path(), BasicItems(), false, false);
    const RecorderLog log = ReadRecorderLog(folder / "recorder.log");
    ASSERT_TRUE(log.present);
    EXPECT_EQ(log.get("cmdline"), "\"" + folder.path() + "\\Recorder.exe\" /Install")
        << "one backslash between the folder and the item name";
}

TEST(Install, RunningAgainReplacesFilesReadOnlyOnesIncluded) {
    TempFolder folder("rerun");
    {
        SetupProcess first;
        EXPECT_EQ(Install(first, "basic", folder.path()).box.text, kString112);
    }
    const std::string readme = folder / "readme.txt";
    const std::string notes = folder / "docs\\notes.txt";
    ASSERT_TRUE(WriteWholeFile(readme, {'o', 'l', 'd'}));
    ASSERT_TRUE(WriteWholeFile(notes, std::vector<std::uint8_t>(100000, 'x')));
    ASSERT_TRUE(::SetFileAttributesA(readme.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesA(notes.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ::DeleteFileA((folder / "recorder.log").c_str());

    SetupProcess second;
    const Report report = Install(second, "basic", folder.path());
    EXPECT_EQ(report.box.text, kString112);
    ExpectItemsInPlace(folder.path(), BasicItems(), false, false);
    EXPECT_TRUE(ReadRecorderLog(folder / "recorder.log").present);
}

TEST(Install, RelativeFolderIsMadeAbsoluteBeforeItIsAskedForAndUsed) {
    TempFolder root("relative");
    const std::string folder = root / "rel dest";
    SetupProcess setup;
    ASSERT_TRUE(setup.Start(SetupPath("basic"), root.path())) << setup.error();
    HWND main = AgreeToLicence(setup);
    ASSERT_NE(main, nullptr);
    InstallInto(main, "rel dest");
    HWND question = setup.WaitForMessageBox(kAppearMs);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(ReadMessageBox(question).text, Format(kString106, folder)) << "the question names the real folder";
    Answer(setup, question, IDYES);
    EXPECT_EQ(FinishWithReport(setup).box.text, kString112);
    ExpectItemsInPlace(folder, BasicItems(), false, false);
    EXPECT_EQ(ReadRecorderLog(folder + "\\recorder.log").get("cmdline"), "\"" + folder + "\\Recorder.exe\" /Install");
}

}  // namespace
}  // namespace e2e
