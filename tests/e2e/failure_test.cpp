// Installations that cannot complete: the final report names the reason, the
// items copied before a failure stay, nothing is started after a failed copy,
// and no stored name can write outside the destination folder.
#include "tests/e2e/support/e2e_support.h"

namespace e2e {
namespace {

bool SameBytes(const std::string& a, const std::string& b) {
    const auto left = ReadWholeFile(a);
    const auto right = ReadWholeFile(b);
    return left && right && *left == *right;
}

std::string TrimEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

TEST(Failure, DamagedItemStopsTheCopyWithEarlierItemsInPlaceAndNothingStarted) {
    TempFolder folder("damaged");
    SetupProcess setup;
    const Report report = InstallAndReport(setup, "damaged", folder.path());
    EXPECT_EQ(report.box.text, kString113);
    EXPECT_TRUE(SameBytes(folder / "Recorder.exe", RecorderPath()));
    EXPECT_TRUE(SameBytes(folder / "readme.txt", DataPath("readme.txt")));
    EXPECT_FALSE(SameBytes(folder / "notes.txt", DataPath("notes.txt"))) << "the damaged item is not passed as good";
    EXPECT_FALSE(FileExists(folder / "after.txt"));
    EXPECT_FALSE(FileExists(folder / "License.rtf"));
    EXPECT_FALSE(ReadRecorderLog(folder / "recorder.log").present) << "no program is started";
}

TEST(Failure, FirstItemThatCannotBeStartedIsReportedWithTheSystemsText) {
    TempFolder folder("unstartable");
    SetupProcess setup;
    const Report report = InstallAndReport(setup, "unstartable", folder.path());
    EXPECT_EQ(report.exitCode, 1u);
    const std::string program = folder / "Larkspan.exe";
    ASSERT_TRUE(SameBytes(program, DataPath("not-a-program.txt"))) << "the item itself was copied";

    // The system's own words for the failure, as a start of the same file gets them.
    std::string commandLine = "\"" + program + "\" /Install";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_FALSE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                                  folder.path().c_str(), &startup, &process));
    const DWORD error = ::GetLastError();
    char text[512] = {};
    ASSERT_GT(::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0x800, text,
                               sizeof text, nullptr),
              0u);
    const std::string head = std::string(kString114) + "\n";
    ASSERT_EQ(report.box.text.rfind(head, 0), 0u) << report.box.text;
    const std::string detail = TrimEnd(report.box.text.substr(head.size()));
    EXPECT_FALSE(detail.empty());
    EXPECT_EQ(detail, TrimEnd(text)) << "error " << error;
}

TEST(Failure, ProgramStillRunningAfterTwentySecondsIsReportedAndLeftRunning) {
    TempFolder folder("sleeper");
    SetupProcess setup;
    const Report report = InstallAndReport(setup, "sleeper", folder.path(), 120000);
    EXPECT_EQ(report.box.text, std::string(kString114) + "\n" + kString115);
    EXPECT_EQ(report.exitCode, 1u);

    const RecorderLog log = ReadRecorderLog(folder / "recorder.log");
    ASSERT_TRUE(log.present);
    EXPECT_EQ(log.lines.size() >= 5 ? log.lines[4] : std::string(), "sleeping");
    EXPECT_EQ(log.get("exit"), "") << "the program had not ended when the setup gave up";
    const DWORD pid = static_cast<DWORD>(std::strtoul(log.get("pid").c_str(), nullptr, 10));
    ASSERT_NE(pid, 0u);
    HANDLE program = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(program, nullptr) << "the program is still running";
    EXPECT_EQ(::WaitForSingleObject(program, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the setup left it running";
    ::TerminateProcess(program, 0);
    ::WaitForSingleObject(program, 10000);
    ::CloseHandle(program);
}

// An archive that has nothing to install, or a stored name that points
// outside the destination or that the system would not write under that name
// (a device, a trailing dot, a target path over 259 characters): the
// installation fails before any item is written, inside or outside, and
// nothing is started.
struct RefusedCase {
    const char* name;
    const char* variant;
    std::string report;
    std::vector<std::string> outside;  // "<temp>" stands for the parent of the destination
    bool deepFolder = false;           // a destination that leaves the long name no room
};
void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, NothingIsWrittenAndNothingStarted) {
    const RefusedCase& c = GetParam();
    TempFolder root(c.variant);
    std::vector<std::string> outside;
    for (std::string path : c.outside) {
        if (path.rfind("<temp>", 0) == 0) path = ParentFolder(root.path()) + path.substr(6);
        ::DeleteFileA(path.c_str());
        outside.push_back(path);
    }
    std::string folder = root.path();
    if (c.deepFolder) {
        const int name = static_cast<int>(std::string(LARKSPAN_E2E_LONG_NAME).size());
        folder += "\\" + std::string(std::max(10, 261 - name - static_cast<int>(folder.size())), 'd');
        ASSERT_GT(folder.size() + 1 + name, 259u) << "the target path of the long name is too long";
        ASSERT_LT(folder.size(), 248u);
        ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    }
    SetupProcess setup;
    const Report report = InstallAndReport(setup, c.variant, folder);
    EXPECT_EQ(report.box.text, c.report);
    EXPECT_EQ(report.exitCode, 1u);
    for (const std::string& path : outside) {
        EXPECT_FALSE(FileExists(path)) << "written outside the destination: " << path;
        ::DeleteFileA(path.c_str());
    }
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{})
        << "not even the items before it are written, and no program is started (it would leave its log)";
}

const std::string kUnexpected = std::string(kString114) + "\n" + kString116;
const std::string kEvil = "\\larkspan-e2e-evil.txt";

INSTANTIATE_TEST_SUITE_P(
    Failure, Refused,
    ::testing::Values(RefusedCase{"EmptyPayload", "empty", kUnexpected, {}},
                      RefusedCase{"ArchiveWithoutItems", "no_items", kString113, {}},
                      RefusedCase{"ParentFolderName", "traversal", kString113, {"<temp>" + kEvil}},
                      RefusedCase{"ParentFolderInsideAPath", "inner_traversal", kString113, {"<temp>" + kEvil}},
                      RefusedCase{"NameWithDrive", "drive_name", kString113, {"C:" + kEvil}},
                      RefusedCase{"RootedName", "rooted_name", kString113, {"C:" + kEvil, "Z:" + kEvil}},
                      RefusedCase{"DeviceName", "device_name", kString113, {}},
                      RefusedCase{"NameEndingInADot", "trailing_dot", kString113, {}},
                      RefusedCase{"TargetPathLongerThan259", "long_name", kString113, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Failure, LongNameBelowAShortFolderStillFits) {
    const std::string name = LARKSPAN_E2E_LONG_NAME;
    TempFolder folder("short");
    ASSERT_LE(folder.path().size() + 1 + name.size(), 259u);
    SetupProcess setup;
    const Report report = InstallAndReport(setup, "long_name", folder.path());
    EXPECT_EQ(report.box.text, kString112);
    EXPECT_TRUE(SameBytes(folder / name, DataPath("readme.txt")));
}

}  // namespace
}  // namespace e2e
