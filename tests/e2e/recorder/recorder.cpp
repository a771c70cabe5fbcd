// A stand-in for the installed program: the setup starts the first item of its
// payload, and the end-to-end tests put this program there to see how it was
// started. It appends to a log its command line, its current directory and how
// it ends:
//   <its own folder>\recorder.log, or the file named by LARKSPAN_RECORDER_LOG.
// What it does is chosen by its own file name (or, failing that, by the first
// word of a file "recorder.mode" beside it):
//   a name containing "exit3"  ends at once with exit code 3;
//   a name containing "sleep"  stays for 25 seconds, then ends with 0;
//   a name containing "imagehlp" loads IMAGEHLP.DLL by its bare name, as a
//                              careless program would, and logs where it came
//                              from ("imagehlp=<path>"), then ends with 0;
//   anything else              ends at once with 0.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string ModulePath() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string LogPath(const std::string& folder) {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("LARKSPAN_RECORDER_LOG", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return path;
    return folder + "\\recorder.log";
}

void Append(const std::string& logPath, const std::string& line) {
    HANDLE file = ::CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string ModeFromFile(const std::string& folder) {
    HANDLE file = ::CreateFileA((folder + "\\recorder.mode").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    char buffer[64] = {};
    DWORD read = 0;
    ::ReadFile(file, buffer, sizeof buffer - 1, &read, nullptr);
    ::CloseHandle(file);
    std::string mode(buffer, read);
    const size_t end = mode.find_first_of(" \r\n\t");
    return end == std::string::npos ? mode : mode.substr(0, end);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string self = ModulePath();
    const std::string folder = FolderOf(self);
    const std::string log = LogPath(folder);

    std::string mode = Lower(self.substr(folder.size()));
    if (mode.find("exit3") == std::string::npos && mode.find("sleep") == std::string::npos &&
        mode.find("imagehlp") == std::string::npos) {
        mode = Lower(ModeFromFile(folder));
    }

    char currentDirectory[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, currentDirectory);
    Append(log, "pid=" + std::to_string(::GetCurrentProcessId()));
    Append(log, std::string("cmdline=") + ::GetCommandLineA());
    Append(log, std::string("cwd=") + currentDirectory);
    Append(log, "exe=" + self);

    int code = 0;
    if (mode.find("exit3") != std::string::npos) {
        code = 3;
    } else if (mode.find("imagehlp") != std::string::npos) {
        HMODULE imagehlp = ::LoadLibraryA("IMAGEHLP.DLL");
        char loaded[MAX_PATH] = {};
        if (imagehlp) ::GetModuleFileNameA(imagehlp, loaded, MAX_PATH);
        Append(log, std::string("imagehlp=") + (imagehlp ? loaded : "none"));
        if (imagehlp) ::FreeLibrary(imagehlp);
    } else if (mode.find("sleep") != std::string::npos) {
        Append(log, "sleeping");
        ::Sleep(25000);
    }
    Append(log, "exit=" + std::to_string(code));
    return code;
}
