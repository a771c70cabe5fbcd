// larkspan-icongen OUT107.ico OUT117.ico: writes the setup's two icons, each
// with a 16 x 16 and a 32 x 32 image of the product mark: IDI_SETUP_FILE (the file's
// icon) shows the medallion slightly turned, IDI_SETUP_SMALL (the dialogs' small icon)
// shows it face on. The same bytes every run.
#include "tools/icongen/ico_writer.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool WriteFile(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '-' || argv[2][0] == '-') {
        std::fputs("usage: larkspan-icongen OUT107.ico OUT117.ico\n", stderr);
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        const bool turned = i == 0;
        const auto icon = icongen::WriteIcon({icongen::MarkImage(16, turned), icongen::MarkImage(32, turned)});
        if (!WriteFile(argv[1 + i], icon)) {
            std::fprintf(stderr, "larkspan-icongen: cannot write %s\n", argv[1 + i]);
            return 1;
        }
    }
    return 0;
}
