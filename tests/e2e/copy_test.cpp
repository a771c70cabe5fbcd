// The copy under its progress dialog, with a 64 MiB item so that it lasts:
// the dialog names the full target path, and Cancel (or the close box) asks
// first; a confirmed cancel stops after the item in progress.
#include "tests/e2e/support/e2e_support.h"

namespace e2e {
namespace {

bool IsProgressDialog(const WindowInfo& window) {
    return window.className == "#32770" && Control(window.window, kProgressFile) != nullptr;
}

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
// the click is waiting before the large item can end (the setup takes its
// messages only every few milliseconds and after each item). Returns the
// progress dialog.
HWND StartCopyAndPress(SetupProcess& setup, const TempFolder& folder, bool (*press)(HWND)) {
    HWND main = StartToMainDialog(setup, SetupPath("big"));
    if (!main) return nullptr;
    InstallInto(main, folder.path());
    HWND progress = setup.WaitForWindow(IsProgressDialog, kAppearMs);
    EXPECT_NE(progress, nullptr) << "no progress dialog; seen:\n" << Describe(setup.seen());
    if (!progress) return nullptr;
    EXPECT_EQ(ReadText(progress), kCaption);
    // The program item is small; wait until the large item is under way.
    const std::string big = folder / "big.bin";
    HWND file = Control(progress, kProgressFile);
    std::string shown;
    for (int i = 0; i < 2000 && !setup.HasExited(); ++i) {
        if (!setup.Freeze()) break;
        shown = StoredText(file);
        if (shown == big) {
            EXPECT_TRUE(press(progress));
            EXPECT_TRUE(setup.Thaw());
            return progress;
        }
        EXPECT_TRUE(setup.Thaw());
        EXPECT_EQ(shown, folder / "Recorder.exe") << "control 1003 shows the full target path";
        ::Sleep(5);
    }
    ADD_FAILURE() << "control 1003 never showed the full path of the large item, last \"" << shown << "\"";
    return nullptr;
}

bool PressCancel(HWND progress) { return PressButton(progress, IDCANCEL); }

MessageBoxInfo CancelQuestion(SetupProcess& setup, HWND progress) {
    HWND box = setup.WaitForMessageBox(kAppearMs);
    EXPECT_NE(box, nullptr) << "Cancel asked nothing; seen:\n" << Describe(setup.seen());
    if (!box) return {};
    const MessageBoxInfo question = ReadMessageBox(box);
    EXPECT_EQ(question.text, kString108);
    EXPECT_EQ(question.caption, kCaption);
    EXPECT_EQ(question.owner, progress);
    EXPECT_EQ(question.defaultButton, IDNO);
    EXPECT_EQ(question.icon, IconKind::Question) << "icon: " << IconName(question.icon);
    return question;
}

// After a confirmed cancel: report 113, the items after the large one absent
// and nothing started.
void ExpectStoppedAfterLargeItem(SetupProcess& setup, HWND progress, const TempFolder& folder) {
    EXPECT_TRUE(setup.WaitForWindowGone(progress, kAppearMs)) << "the progress dialog disappears";
    const Report report = FinishWithReport(setup);
    EXPECT_EQ(report.box.text, kString113);
    EXPECT_EQ(report.exitCode, 1u);
    EXPECT_TRUE(FileExists(folder / "Recorder.exe"));
    // The item in progress is finished.
    WIN32_FILE_ATTRIBUTE_DATA big{};
    EXPECT_TRUE(::GetFileAttributesExA((folder / "big.bin").c_str(), GetFileExInfoStandard, &big));
    EXPECT_EQ(big.nFileSizeLow, 64u * 1024u * 1024u);
    EXPECT_FALSE(FileExists(folder / "after.txt")) << "no item after the one in progress is written";
    EXPECT_FALSE(FileExists(folder / "License.rtf")) << "no item after the one in progress is written";
    EXPECT_FALSE(ReadRecorderLog(folder / "recorder.log").present) << "no program is started";
}

TEST(Copy, ProgressNamesTheFullTargetPathAndConfirmedCancelStopsTheCopy) {
    TempFolder folder("cancel-yes");
    SetupProcess setup;
    HWND progress = StartCopyAndPress(setup, folder, PressCancel);
    ASSERT_NE(progress, nullptr);
    const MessageBoxInfo question = CancelQuestion(setup, progress);
    ASSERT_NE(question.window, nullptr);
    // The copy waits while the question is open: it is still on the large item.
    EXPECT_EQ(ControlText(progress, kProgressFile), folder / "big.bin");
    Answer(setup, question.window, IDYES);
    ExpectStoppedAfterLargeItem(setup, progress, folder);
}

TEST(Copy, CancelAnsweredNoGoesOnToSuccess) {
    TempFolder folder("cancel-no");
    SetupProcess setup;
    HWND progress = StartCopyAndPress(setup, folder, PressCancel);
    ASSERT_NE(progress, nullptr);
    const MessageBoxInfo question = CancelQuestion(setup, progress);
    ASSERT_NE(question.window, nullptr);
    Answer(setup, question.window, IDNO);
    // The copy goes on under the dialog, which stays visible as long as it
    // exists (a hidden dialog would mean the answer was taken as Yes).
    ASSERT_TRUE(setup.Freeze());
    const bool exists = ::IsWindow(progress);
    const bool visible = ::IsWindowVisible(progress);
    ASSERT_TRUE(setup.Thaw());
    EXPECT_TRUE(visible || !exists) << "No keeps the dialog";
    const Report report = FinishWithReport(setup);
    EXPECT_EQ(report.box.text, kString112);
    const auto big = ReadWholeFile(folder / "big.bin");
    const auto original = ReadWholeFile(GeneratedPath("big.bin"));
    ASSERT_TRUE(big && original);
    EXPECT_TRUE(*big == *original) << "the large item is copied whole";
    EXPECT_TRUE(FileExists(folder / "after.txt"));
    EXPECT_TRUE(FileExists(folder / "License.rtf"));
    EXPECT_TRUE(ReadRecorderLog(folder / "recorder.log").present);
}

TEST(Copy, CloseBoxBehavesLikeCancel) {
    TempFolder folder("cancel-close");
    SetupProcess setup;
    HWND progress = StartCopyAndPress(setup, folder, PressCloseBox);
    ASSERT_NE(progress, nullptr);
    const MessageBoxInfo question = CancelQuestion(setup, progress);
    ASSERT_NE(question.window, nullptr);
    Answer(setup, question.window, IDYES);
    ExpectStoppedAfterLargeItem(setup, progress, folder);
}

}  // namespace
}  // namespace e2e
