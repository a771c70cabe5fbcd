// Shared steps of the end-to-end tests: where the built setups and fixtures
// are, the recorder's log, and the usual walk through the dialogs.
#pragma once

#include "tests/e2e/driver/e2e_driver.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// The setup's own texts.
inline constexpr char kCaption[] = "Larkspan Setup";
inline constexpr char kLicenceCaption[] = "License agreement";
inline constexpr char kString106[] = "Folder '%s' does not yet exist.\nDo you want to create it?";
inline constexpr char kString107[] = "Folder '%s' cannot be created.\nPlease choose another location.";
inline constexpr char kString108[] = "Are you sure you want to abort the installation?";
inline constexpr char kString112[] =
    "The program has successfully been installed.\n\nYou can start it from the Windows Start menu, in the folder "
    "Program Files / Orvane.";
inline constexpr char kString113[] = "The program was not completely installed.";
inline constexpr char kString114[] = "The program cannot be installed.";
inline constexpr char kString115[] =
    "The registration of the program in the system registry was not possible.\nIf you are installing on Windows "
    "NT, 2000, XP or 2003, then please make sure you have Administrator rights.";
inline constexpr char kString116[] = "An unexpected situation was encountered.";
inline constexpr char kChecksumText[] = "The checksum of this setup program is not correct.";

// Waits generous enough for a loaded machine; the tests never measure time.
inline constexpr DWORD kAppearMs = 60000;

// Text with every "%s" replaced by the argument.
std::string Format(const std::string& format, const std::string& argument);

// Built setup variants and fixtures (Windows paths).
std::string SetupPath(const std::string& variant);  // e2e_setup_<variant>.exe
std::string ProductSetupPath();                     // empty when not built
std::string DataPath(const std::string& name);
std::string GeneratedPath(const std::string& name);
std::string RecorderPath();

// Files and folders.
using support::FileExists;
using support::FileTimeOf;
using support::FolderExists;
using support::ListFolder;
using support::ReadWholeFile;
using support::TempFolder;  // labelled, e.g. TempFolder("install"); LARKSPAN_E2E_KEEP keeps them
using support::Ticks;
using support::WriteWholeFile;
std::string ParentFolder(const std::string& path);
bool CopyFileTo(const std::string& from, const std::string& to);

// What the recorder wrote: pid, cmdline, cwd, exe, sleeping, exit.
struct RecorderLog {
    bool present = false;
    std::map<std::string, std::string> values;
    std::vector<std::string> lines;
    [[nodiscard]] std::string get(const std::string& key) const {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }
};
RecorderLog ReadRecorderLog(const std::string& path);

// The walk through the dialogs. Each returns null (after a test failure) when
// the expected window does not appear.
HWND WaitLicence(SetupProcess& setup);
// Ticks the box and presses "I agree"; returns the main dialog.
HWND AgreeToLicence(SetupProcess& setup);
// Starts the setup and goes on to the main dialog.
HWND StartToMainDialog(SetupProcess& setup, const std::string& exe);
// Types the folder and presses Install.
void InstallInto(HWND mainDialog, const std::string& folder);

struct Report {
    MessageBoxInfo box;
    std::optional<DWORD> exitCode;
};
// Waits for the final report (a message box without owner), checks its form
// (caption IDS_CAPTION, one OK button, information icon), presses OK and waits for
// the setup to end.
Report FinishWithReport(SetupProcess& setup, DWORD timeoutMs = kAppearMs);
// The whole walk: starts the setup variant, agrees, installs into `folder` and
// returns the final report (empty when a dialog did not appear).
Report InstallAndReport(SetupProcess& setup, const std::string& variant, const std::string& folder,
                        DWORD reportTimeoutMs = kAppearMs);

// Answers a question box by pressing a button and waits for it to go.
void Answer(SetupProcess& setup, HWND box, int buttonId);

// No visible window other than these was ever seen (for EXPECT_TRUE with a message).
::testing::AssertionResult NothingElseSeen(const SetupProcess& setup, const std::vector<HWND>& expected);

}  // namespace e2e
