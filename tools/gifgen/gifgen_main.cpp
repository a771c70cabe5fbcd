// larkspan-gifgen OUT.gif: writes the setup's animation (the same bytes every run).
#include "tools/gifgen/animation.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs("usage: larkspan-gifgen OUT.gif\n", stderr);
        return 1;
    }
    const std::vector<std::uint8_t> gif = gifgen::MakeAnimation();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(gif.data()), static_cast<std::streamsize>(gif.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "larkspan-gifgen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
