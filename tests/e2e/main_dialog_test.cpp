// The destination folder dialog: its texts, the cancel rules, and the
// create-after-asking rule with its questions and error.
#include "tests/e2e/support/e2e_support.h"

namespace e2e {
namespace {

const char kDefaultFolder[] = "C:\\Program Files\\Orvane\\Larkspan";

// Waits for a message box other than `except` and reads it.
MessageBoxInfo NextBox(SetupProcess& setup, HWND except = nullptr) {
    HWND box = setup.WaitForMessageBox(kAppearMs, except);
    EXPECT_NE(box, nullptr) << "no message box appeared; seen:\n" << Describe(setup.seen());
    return box ? ReadMessageBox(box) : MessageBoxInfo{};
}

void ExpectQuestion(const MessageBoxInfo& box, const std::string& text, HWND owner, int defaultButton) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.owner, owner) << "the question is owned by the dialog that asks";
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[0].first, IDYES);
    EXPECT_EQ(box.buttons[1].first, IDNO);
    EXPECT_EQ(box.defaultButton, defaultButton);
    EXPECT_EQ(box.icon, IconKind::Question) << "icon: " << IconName(box.icon);
}

void ExpectStillOpen(SetupProcess& setup, HWND main) {
    setup.Watch(300);
    EXPECT_TRUE(::IsWindow(main) && ::IsWindowVisible(main)) << "the dialog stays open";
    EXPECT_FALSE(setup.HasExited());
}

// Cancel with a filled destination: question IDS_ASK_ABORT, Yes, report IDS_INCOMPLETE, exit code 1.
void CancelWithConfirmation(SetupProcess& setup, HWND main) {
    PressButton(main, IDCANCEL);
    const MessageBoxInfo question = NextBox(setup);
    ExpectQuestion(question, kString108, main, IDNO);
    Answer(setup, question.window, IDYES);
    const Report report = FinishWithReport(setup);
    EXPECT_EQ(report.box.text, kString113);
    EXPECT_EQ(report.exitCode, 1u);
}

bool PressCancel(HWND main) { return PressButton(main, IDCANCEL); }

TEST(MainDialog, ShowsItsTextsAndCancelOrEscapeAtOnceEndsWithoutAnyMessage) {
    const std::pair<const char*, bool (*)(HWND)> ways[] = {{"Cancel", PressCancel}, {"Escape", PressEscape}};
    for (const auto& [way, leave] : ways) {
        SCOPED_TRACE(way);
        SetupProcess setup;
        HWND main = StartToMainDialog(setup, SetupPath("basic"));
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(ControlText(main, kFolderEdit), kDefaultFolder);
        EXPECT_EQ(ControlText(main, 1006), "This program will install the Orvane Larkspan on your computer.");
        EXPECT_EQ(ControlText(main, IDOK), "Install");
        EXPECT_EQ(ControlText(main, IDCANCEL), "Cancel");
        EXPECT_EQ(ControlText(main, kBrowseButton), "...");
        EXPECT_EQ(DefaultButtonId(main), IDOK);
        EXPECT_NE(Control(main, 507), nullptr) << "the picture's control";
        EXPECT_TRUE(leave(main));
        const auto code = setup.WaitForExit(kAppearMs);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 1u) << "leaving at once: exit code 1";
        EXPECT_TRUE(setup.SeenMessageBoxes().empty()) << "leaving at once asks nothing and reports nothing:\n"
                                                      << Describe(setup.SeenMessageBoxes());
    }
}

TEST(MainDialog, CancelAfterCancelledBrowserAsksWithNoAsDefaultAndNoKeepsTheDialog) {
    SetupProcess setup;
    HWND main = StartToMainDialog(setup, SetupPath("basic"));
    ASSERT_NE(main, nullptr);

    PressButton(main, kBrowseButton);
    HWND browser = setup.WaitForWindow(
        [&](const WindowInfo& w) { return w.window != main && w.className == "#32770" && !w.messageBox; }, kAppearMs);
    ASSERT_NE(browser, nullptr) << "the folder browser did not open; seen:\n" << Describe(setup.seen());
    EXPECT_TRUE(::IsWindowEnabled(main)) << "the browser has no owner: the dialog stays enabled";
    PressButton(browser, IDCANCEL);
    ASSERT_TRUE(setup.WaitForWindowGone(browser, kAppearMs));
    EXPECT_EQ(ControlText(main, kFolderEdit), kDefaultFolder) << "a cancelled browser changes nothing";

    PressButton(main, IDCANCEL);
    const MessageBoxInfo question = NextBox(setup);
    ExpectQuestion(question, kString108, main, IDNO);
    Answer(setup, question.window, IDNO);
    ExpectStillOpen(setup, main);

    CancelWithConfirmation(setup, main);
}

TEST(MainDialog, MissingNestedFolderIsCreatedAfterYes) {
    TempFolder root("nested");
    const std::string folder = root.path() + "\\first\\second\\third";
    SetupProcess setup;
    HWND main = StartToMainDialog(setup, SetupPath("basic"));
    ASSERT_NE(main, nullptr);

    // No keeps the dialog and creates nothing.
    InstallInto(main, folder);
    MessageBoxInfo question = NextBox(setup);
    ExpectQuestion(question, Format(kString106, folder), main, IDYES);
    Answer(setup, question.window, IDNO);
    ExpectStillOpen(setup, main);
    EXPECT_FALSE(FolderExists(root.path() + "\\first"));

    // Yes creates every missing level and installs.
    PressButton(main, IDOK);
    question = NextBox(setup, question.window);
    ExpectQuestion(question, Format(kString106, folder), main, IDYES);
    Answer(setup, question.window, IDYES);
    const Report report = FinishWithReport(setup);
    EXPECT_EQ(report.box.text, kString112);
    EXPECT_EQ(report.exitCode, 1u);
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FileExists(folder + "\\readme.txt"));
}

// A folder that cannot be made (below a file, or an empty name): question IDS_ASK_CREATE_FOLDER,
// Yes, error IDS_CANNOT_CREATE_FOLDER, and the dialog stays. Cancel then asks first only when the
// field named a folder; the empty one leaves nothing to report.
TEST(MainDialog, UncreatableFolderShowsErrorAndTheDialogStays) {
    TempFolder root("uncreatable");
    const std::string file = root / "plain-file";
    ASSERT_TRUE(WriteWholeFile(file, {'x'}));
    for (const std::string& folder : {file + "\\sub", std::string()}) {
        SCOPED_TRACE("folder \"" + folder + "\"");
        SetupProcess setup;
        HWND main = StartToMainDialog(setup, SetupPath("basic"));
        ASSERT_NE(main, nullptr);
        InstallInto(main, folder);
        const MessageBoxInfo question = NextBox(setup);
        ExpectQuestion(question, Format(kString106, folder), main, IDYES);
        Answer(setup, question.window, IDYES);
        const MessageBoxInfo error = NextBox(setup, question.window);
        EXPECT_EQ(error.text, Format(kString107, folder));
        EXPECT_EQ(error.caption, kCaption);
        EXPECT_EQ(error.icon, IconKind::Error) << "icon: " << IconName(error.icon);
        ASSERT_EQ(error.buttons.size(), 1u);
        EXPECT_EQ(error.buttons[0].first, IDOK);
        Answer(setup, error.window, IDOK);
        ExpectStillOpen(setup, main);
        if (!folder.empty()) {
            CancelWithConfirmation(setup, main);
            continue;
        }
        PressButton(main, IDCANCEL);
        const auto code = setup.WaitForExit(kAppearMs);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 1u);
        EXPECT_EQ(setup.SeenMessageBoxes().size(), 2u) << Describe(setup.SeenMessageBoxes());
    }
}

TEST(MainDialog, LongFolderPathInQuestionIsCutNotOverrun) {
    // A folder path far longer than the question's text buffer.
    TempFolder root("longpath");
    std::string folder = root.path();
    while (folder.size() < 250) folder += "\\abcdefghijklmnopqrstuvwxyz";
    folder.resize(255);
    SetupProcess setup;
    HWND main = StartToMainDialog(setup, SetupPath("basic"));
    ASSERT_NE(main, nullptr);
    InstallInto(main, folder);
    const MessageBoxInfo question = NextBox(setup);
    const std::string full = Format(kString106, folder);
    const std::string suffix = "' does not yet exist.\nDo you want to create it?";
    EXPECT_LE(question.text.size(), 259u) << "composed within its 260-character buffer";
    EXPECT_EQ(question.text.rfind("Folder '" + folder.substr(0, 3), 0), 0u) << question.text;
    const bool keepsEnd = question.text.size() > suffix.size() &&
                          question.text.compare(question.text.size() - suffix.size(), suffix.size(), suffix) == 0;
    const bool cutAtEnd = question.text == full.substr(0, question.text.size());
    EXPECT_TRUE(keepsEnd || cutAtEnd) << "the path is shortened, the rest of the text intact: " << question.text;
    Answer(setup, question.window, IDNO);
    ExpectStillOpen(setup, main);
    CancelWithConfirmation(setup, main);
}

TEST(MainDialog, FolderLongerThan259CharactersIsNeverCutAndUsed) {
    TempFolder root("toolong");
    std::string typed = root.path();
    while (typed.size() < 300) typed += "\\abcdefghijklmnopqrstuvwxyz";
    // A relative folder that is short itself but long once made absolute.
    std::string deep = root.path();
    while (deep.size() < 230) ASSERT_TRUE(::CreateDirectoryA((deep += "\\level").c_str(), nullptr));
    const std::string relative(40, 'r');
    struct Case {
        std::string currentDirectory, typed;
    };
    for (const Case& c : {Case{root.path(), typed}, Case{deep, relative}}) {
        SCOPED_TRACE(c.typed);
        SetupProcess setup;
        ASSERT_TRUE(setup.Start(SetupPath("basic"), c.currentDirectory)) << setup.error();
        HWND main = AgreeToLicence(setup);
        ASSERT_NE(main, nullptr);
        DWORD_PTR limit = 0;
        HWND field = Control(main, kFolderEdit);
        ASSERT_TRUE(::SendMessageTimeoutA(field, EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, kAppearMs, &limit));
        EXPECT_EQ(limit, 259u) << "typing and pasting stop at 259 characters";
        InstallInto(main, c.typed);  // set from outside, past the limit
        const MessageBoxInfo error = NextBox(setup);
        // The message names the folder, shortened in its middle (the relative one
        // as typed when the system's ANSI call cannot make a path this long absolute).
        const std::string tail = c.typed.substr(c.typed.size() - 8) +
                                 "' cannot be created.\nPlease choose another location.";
        EXPECT_EQ(error.text.rfind("Folder '", 0), 0u) << error.text;
        EXPECT_EQ(error.text.substr(error.text.size() - std::min(tail.size(), error.text.size())), tail) << error.text;
        EXPECT_EQ(error.icon, IconKind::Error) << "icon: " << IconName(error.icon);
        Answer(setup, error.window, IDOK);
        ExpectStillOpen(setup, main);
        EXPECT_FALSE(FolderExists(root / "abcdefghijklmnopqrstuvwxyz")) << "nothing is created";
        EXPECT_FALSE(FolderExists(deep + "\\" + relative.substr(0, 259 - deep.size() - 1))) << "nothing is created";
        CancelWithConfirmation(setup, main);
    }
}

}  // namespace
}  // namespace e2e
