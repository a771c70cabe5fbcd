// The copy under its progress dialog, with a 64 MiB item so that it lasts:
// the dialog names the full target path, and Cancel (or the close box) asks
// first; a confirmed cancel stops after the item in progress, No lets the copy
// finish.
#include "tests/e2e/support/e2e_support.h"

namespace e2e {
namespace {

// The text of a control of the setup, read without waiting for the setup to
// take a message: for another process's window the system returns the text
// it keeps for the window.
std::string StoredText(HWND control) {
    char text[MAX_PATH + 1] = {};
    ::GetWindowTextA(control, text, sizeof text);
    return text;
}

// Installs the big variant into the folder and, once the copy is on the large
// item, does `press` to the progress dialog while the setup is held, so that
// the click is waiting before the large item can end (a 64 MiB item lasts only
// some tens of milliseconds once its bytes are cached). Returns the progress
// dialog.
HWND StartCopyAndPress(SetupProcess& setup, const TempFolder& folder, bool (*press)(HWND)) {
    HWND main = StartToMainDialog(setup, SetupPath("big"));
    if (!main) return nullptr;
    InstallInto(main, folder.path());
    const std::string big = folder / "big.bin";
    std::string shown;
    const ULONGLONG end = ::GetTickCount64() + kAppearMs;
    while (::GetTickCount64() < end && !setup.HasExited()) {
        if (!setup.Freeze()) break;
        HWND progress = FindProgressDialog(setup.processId());
        shown = progress ? StoredText(Control(progress, kProgressFile)) : std::string();
        const bool onLargeItem = shown == big;
        const bool pressed = onLargeItem && press(progress);
        EXPECT_TRUE(setup.Thaw());
        if (onLargeItem) {
            EXPECT_TRUE(pressed);
            EXPECT_EQ(ReadText(progress), kCaption);
            return progress;
        }
        if (progress) {
            EXPECT_EQ(shown, folder / "Recorder.exe") << "IDC_PROGRESS_FILE shows the full target path";
        }
        ::Sleep(1);
    }
    ADD_FAILURE() << "IDC_PROGRESS_FILE never showed the full path of the large item, last \"" << shown << "\"";
    return nullptr;
}

bool PressCancel(HWND progress) { return PressButton(progress, IDCANCEL); }

// Cancel and the close box both ask question IDS_ASK_ABORT while the copy waits; Yes
// stops after the item in progress, No lets the copy finish.
struct CancelCase {
    const char* name;
    bool (*press)(HWND progress);
    int answer;
};
void PrintTo(const CancelCase& c, std::ostream* out) { *out << c.name; }

class Copy : public ::testing::TestWithParam<CancelCase> {};

TEST_P(Copy, ProgressNamesTheFullTargetPathAndCancelAsksFirst) {
    const CancelCase& c = GetParam();
    TempFolder folder(std::string("cancel-") + c.name);
    SetupProcess setup;
    HWND progress = StartCopyAndPress(setup, folder, c.press);
    ASSERT_NE(progress, nullptr);
    HWND box = setup.WaitForMessageBox(kAppearMs);
    ASSERT_NE(box, nullptr) << "Cancel asked nothing; seen:\n" << Describe(setup.seen());
    const MessageBoxInfo question = ReadMessageBox(box);
    EXPECT_EQ(question.text, kString108);
    EXPECT_EQ(question.caption, kCaption);
    EXPECT_EQ(question.owner, progress);
    EXPECT_EQ(question.defaultButton, IDNO);
    EXPECT_EQ(question.icon, IconKind::Question) << "icon: " << IconName(question.icon);
    EXPECT_EQ(ControlText(progress, kProgressFile), folder / "big.bin") << "the copy waits while the question is open";
    Answer(setup, box, c.answer);

    const bool stopped = c.answer == IDYES;
    if (!stopped) {
        // The dialog stays visible as long as it exists (a hidden dialog would
        // mean the answer was taken as Yes).
        ASSERT_TRUE(setup.Freeze());
        const bool exists = ::IsWindow(progress);
        const bool visible = ::IsWindowVisible(progress);
        ASSERT_TRUE(setup.Thaw());
        EXPECT_TRUE(visible || !exists) << "No keeps the dialog";
    } else {
        EXPECT_TRUE(setup.WaitForWindowGone(progress, kAppearMs)) << "the progress dialog disappears";
    }
    const Report report = FinishWithReport(setup);
    EXPECT_EQ(report.box.text, stopped ? kString113 : kString112);
    EXPECT_EQ(report.exitCode, 1u);
    EXPECT_TRUE(FileExists(folder / "Recorder.exe"));
    // The item in progress is finished either way; the items after it, and the
    // start of the program, only without a cancel.
    const auto big = ReadWholeFile(folder / "big.bin");
    const auto original = ReadWholeFile(GeneratedPath("big.bin"));
    EXPECT_TRUE(big && original && *big == *original) << "the large item is copied whole";
    EXPECT_EQ(FileExists(folder / "after.txt"), !stopped);
    EXPECT_EQ(FileExists(folder / "License.rtf"), !stopped);
    EXPECT_EQ(ReadRecorderLog(folder / "recorder.log").present, !stopped) << "the program is started";
}

INSTANTIATE_TEST_SUITE_P(CancelOrCloseBox, Copy,
                         ::testing::Values(CancelCase{"CancelYes", PressCancel, IDYES},
                                           CancelCase{"CancelNo", PressCancel, IDNO},
                                           CancelCase{"CloseBoxYes", PressCloseBox, IDYES}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
