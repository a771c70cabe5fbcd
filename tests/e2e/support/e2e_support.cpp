#include "tests/e2e/support/e2e_support.h"

namespace e2e {
namespace {

// Under Wine without a window manager (Xvfb), every window that is hidden or
// destroyed makes Wine wait a second for a manager that never answers. Wine's
// unmanaged windows behave the same for a program and skip that wait, so the
// test run asks for them in the test prefix while it lasts (programs read the
// setting when they start). LARKSPAN_E2E_MANAGED=1 keeps managed windows, for
// watching a run under a real desktop.
class UnmanagedWineWindows : public ::testing::Environment {
public:
    void SetUp() override {
        char keep[8] = {};
        if (::GetEnvironmentVariableA("LARKSPAN_E2E_MANAGED", keep, sizeof keep) != 0) return;
        HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        if (!ntdll || !::GetProcAddress(ntdll, "wine_get_version")) return;
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                              nullptr) != ERROR_SUCCESS) {
            return;
        }
        DWORD size = sizeof previous_;
        hadPrevious_ = ::RegQueryValueExA(key, "Managed", nullptr, nullptr, reinterpret_cast<BYTE*>(previous_),
                                          &size) == ERROR_SUCCESS;
        const char value[] = "N";
        changed_ = ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value) ==
                   ERROR_SUCCESS;
        ::RegCloseKey(key);
    }
    void TearDown() override {
        if (!changed_) return;
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        if (hadPrevious_) {
            ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_),
                             static_cast<DWORD>(lstrlenA(previous_) + 1));
        } else {
            ::RegDeleteValueA(key, "Managed");
        }
        ::RegCloseKey(key);
    }

private:
    static constexpr char kKey[] = "Software\\Wine\\X11 Driver";
    char previous_[32] = {};
    bool hadPrevious_ = false;
    bool changed_ = false;
};

[[maybe_unused]] ::testing::Environment* const g_unmanagedWindows = ::testing::AddGlobalTestEnvironment(
    new UnmanagedWineWindows);

}  // namespace

std::string Format(const std::string& format, const std::string& argument) {
    std::string text = format;
    for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s", at + argument.size())) {
        text.replace(at, 2, argument);
    }
    return text;
}

std::string SetupPath(const std::string& variant) {
    return WindowsPath(std::string(LARKSPAN_E2E_SETUP_DIR) + "/e2e_setup_" + variant + ".exe");
}
std::string ProductSetupPath() {
    const std::string path = LARKSPAN_E2E_PRODUCT_SETUP;
    return path.empty() ? path : WindowsPath(path);
}
std::string DataPath(const std::string& name) { return WindowsPath(std::string(LARKSPAN_E2E_DATA_DIR) + "/" + name); }
std::string GeneratedPath(const std::string& name) {
    return WindowsPath(std::string(LARKSPAN_E2E_GEN_DIR) + "/" + name);
}
std::string RecorderPath() { return WindowsPath(LARKSPAN_E2E_RECORDER); }

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool CopyFileTo(const std::string& from, const std::string& to) { return ::CopyFileA(from.c_str(), to.c_str(), FALSE); }

RecorderLog ReadRecorderLog(const std::string& path) {
    RecorderLog log;
    const auto bytes = ReadWholeFile(path);
    if (!bytes) return log;
    log.present = true;
    std::string text(bytes->begin(), bytes->end());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        log.lines.push_back(line);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) log.values[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 2;
    }
    return log;
}

HWND WaitLicence(SetupProcess& setup) {
    HWND licence = setup.WaitForDialog(kLicenceCaption, kAppearMs);
    EXPECT_NE(licence, nullptr) << "the licence dialog did not appear; seen:\n" << Describe(setup.seen());
    return licence;
}

HWND AgreeToLicence(SetupProcess& setup) {
    HWND licence = WaitLicence(setup);
    if (!licence) return nullptr;
    PressButton(licence, kAgreeBox);
    for (int i = 0; i < 400 && !IsControlEnabled(licence, IDOK); ++i) ::Sleep(kPollMs);
    EXPECT_TRUE(IsControlEnabled(licence, IDOK)) << "\"I agree\" stayed disabled after ticking the box";
    PressButton(licence, IDOK);
    HWND main = setup.WaitForDialog(kCaption, kAppearMs);
    EXPECT_NE(main, nullptr) << "the main dialog did not appear; seen:\n" << Describe(setup.seen());
    return main;
}

HWND StartToMainDialog(SetupProcess& setup, const std::string& exe) {
    if (!setup.Start(exe)) {
        ADD_FAILURE() << setup.error();
        return nullptr;
    }
    return AgreeToLicence(setup);
}

void InstallInto(HWND mainDialog, const std::string& folder) {
    EXPECT_TRUE(TypeText(mainDialog, kFolderEdit, folder));
    EXPECT_EQ(ControlText(mainDialog, kFolderEdit), folder);
    EXPECT_TRUE(PressButton(mainDialog, IDOK));
}

Report InstallAndReport(SetupProcess& setup, const std::string& variant, const std::string& folder,
                        DWORD reportTimeoutMs) {
    HWND main = StartToMainDialog(setup, SetupPath(variant));
    if (!main) return {};
    InstallInto(main, folder);
    return FinishWithReport(setup, reportTimeoutMs);
}

Report FinishWithReport(SetupProcess& setup, DWORD timeoutMs) {
    Report report;
    HWND box = setup.WaitForMessageBox(timeoutMs);
    if (!box) {
        ADD_FAILURE() << "no final report appeared; seen:\n" << Describe(setup.seen());
        return report;
    }
    report.box = ReadMessageBox(box);
    EXPECT_EQ(report.box.owner, nullptr) << "the final report has no owner";
    EXPECT_EQ(report.box.caption, kCaption);
    EXPECT_EQ(report.box.buttons.size(), 1u);
    EXPECT_NE(Control(box, IDOK), nullptr) << "the report has an OK button";
    EXPECT_EQ(report.box.icon, IconKind::Information) << "icon: " << IconName(report.box.icon);
    PressButton(box, IDOK);
    report.exitCode = setup.WaitForExit(kAppearMs);
    EXPECT_TRUE(report.exitCode.has_value()) << "the setup did not end after its report";
    return report;
}

void Answer(SetupProcess& setup, HWND box, int buttonId) {
    EXPECT_TRUE(PressButton(box, buttonId));
    EXPECT_TRUE(setup.WaitForWindowGone(box, kAppearMs)) << "the question stayed open";
}

::testing::AssertionResult NothingElseSeen(const SetupProcess& setup, const std::vector<HWND>& expected) {
    const auto others = setup.SeenExcept(expected);
    if (others.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "other windows appeared:\n" << Describe(others);
}

}  // namespace e2e
