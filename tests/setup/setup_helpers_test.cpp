// The setup's pure helpers: bounded message composition, the item target
// check and join, and the progress bar position.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "setup/item_target.h"
#include "setup/progress_percent.h"
#include "setup/report_text.h"

namespace {

constexpr char kAskCreate[] = "Folder '%s' does not yet exist.\nDo you want to create it?";

std::string Format(std::size_t size, const char* format, const char* insert) {
    std::string buffer(size + 8, '#');  // guard bytes after the buffer
    const std::size_t length = FormatWithInsert(&buffer[0], size, format, insert);
    EXPECT_EQ(std::string(8, '#'), buffer.substr(size)) << "wrote past the buffer";
    EXPECT_EQ(length, std::strlen(buffer.c_str()));
    return buffer.c_str();
}

std::string Report(std::size_t size, const char* first, const char* detail) {
    std::string buffer(size + 8, '#');
    const std::size_t length = ComposeFinalReport(&buffer[0], size, first, detail);
    EXPECT_EQ(std::string(8, '#'), buffer.substr(size)) << "wrote past the buffer";
    EXPECT_EQ(length, std::strlen(buffer.c_str()));
    return buffer.c_str();
}

TEST(FormatWithInsert, InsertsAShortFolderWhole) {
    EXPECT_EQ("Folder 'C:\\Orvane\\Larkspan' does not yet exist.\nDo you want to create it?",
              Format(260, kAskCreate, "C:\\Orvane\\Larkspan"));
    EXPECT_EQ("Folder '' does not yet exist.\nDo you want to create it?", Format(260, kAskCreate, ""));
    EXPECT_EQ("100% of 'x'", Format(260, "100%% of '%s'", "x"));
    EXPECT_EQ("no insert here", Format(260, "no insert here", "C:\\x"));
}

TEST(FormatWithInsert, ShortensALongFolderInTheMiddleAndKeepsTheQuestion) {
    const std::string folder = "C:\\" + std::string(120, 'a') + "\\" + std::string(130, 'b') + "\\Last";
    ASSERT_EQ(259u, folder.size());
    const std::string text = Format(260, kAskCreate, folder.c_str());
    EXPECT_EQ(259u, text.size());
    EXPECT_EQ(0u, text.find("Folder 'C:\\aaa"));
    EXPECT_NE(std::string::npos, text.find("...")) << text;
    EXPECT_NE(std::string::npos, text.find("bbb\\Last' does not yet exist.\nDo you want to create it?")) << text;
}

TEST(FormatWithInsert, FitsExactlyWithoutShortening) {
    const std::string fixed = "<%s>";
    const std::string insert(257, 'p');  // 257 + 2 = 259 characters
    const std::string text = Format(260, fixed.c_str(), insert.c_str());
    EXPECT_EQ("<" + insert + ">", text);
    const std::string longer(258, 'p');
    const std::string cut = Format(260, fixed.c_str(), longer.c_str());
    EXPECT_EQ(259u, cut.size());
    EXPECT_EQ('>', cut.back());
    EXPECT_NE(std::string::npos, cut.find("..."));
}

TEST(FormatWithInsert, CutsAnOverlongFormatAtTheEnd) {
    const std::string format = std::string(300, 'f') + "%s";
    EXPECT_EQ(std::string(15, 'f'), Format(16, format.c_str(), "folder"));
    EXPECT_EQ("", Format(1, kAskCreate, "folder"));
}

// Run on its own under a Japanese locale (code page 932), where 0x82 leads a
// double-byte character.
TEST(FormatWithInsert, NeverSplitsADoubleByteCharacter) {
    ASSERT_TRUE(IsDBCSLeadByte(0x82)) << "run with a double-byte ANSI code page; this one is " << GetACP();
    std::string folder;
    for (int i = 0; i < 100; ++i) folder += "\x82\xA0";
    for (std::size_t size : {std::size_t{40}, std::size_t{41}}) {
        const std::string text = Format(size, "[%s]", folder.c_str());
        ASSERT_EQ(']', text.back());
        // Walking the characters from the bracket must land exactly on the
        // closing bracket: no lead byte lost its trail byte.
        std::size_t i = 1;
        while (i < text.size() - 1) i += IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 2 : 1;
        EXPECT_EQ(text.size() - 1, i) << "size " << size;
    }
}

TEST(ComposeFinalReport, JoinsTheTwoLines) {
    EXPECT_EQ("The program cannot be installed.\nAn unexpected situation was encountered.",
              Report(260, "The program cannot be installed.", "An unexpected situation was encountered."));
    EXPECT_EQ("The program was not completely installed.",
              Report(260, "The program was not completely installed.", ""));
}

TEST(ComposeFinalReport, CutsALongSystemTextAtItsEnd) {
    const std::string detail(300, 's');
    const std::string text = Report(260, "The program cannot be installed.", detail.c_str());
    EXPECT_EQ(259u, text.size());
    EXPECT_EQ(0u, text.find("The program cannot be installed.\nsss"));
    EXPECT_EQ("...", text.substr(text.size() - 3));
    EXPECT_EQ("ab", Report(3, "abcdef", "detail"));
}

TEST(ItemTarget, AcceptsNamesBelowTheFolder) {
    for (const char* name : {"Larkspan.exe", "docs/Read Me.txt", "docs\\sub\\a.txt", "folder/", ".hidden", "a..b/c",
                             "..name", "a.nul", "nul1", "COM10", "LPT", "com1x.txt", "CONSOLE.txt", "my con.txt",
                             "auxiliary/x", "CON$", "COM\xB4", " lead"}) {
        EXPECT_TRUE(IsSafeItemName(name)) << name;
    }
}

TEST(ItemTarget, RefusesNamesThatLeaveTheFolder) {
    for (const char* name :
         {"", "/etc/passwd", "\\Windows\\x.dll", "C:evil.exe", "C:\\Windows\\x.dll", "c:/x", "..", "../x", "..\\x",
          "a/../../x", "a\\..\\..\\x", "a/..", "... /x", "a/.. /b", "a/.../b", "//server/share/x", "file.txt:stream",
          // Components the system would store under another name.
          "readme.txt.", "name..", "x/./y", ".", "docs./a", "a /b", "trailing ",
          // Devices, in any folder, case and with any extension.
          "nul", "docs/nul.txt", "COM1", "aux/readme.txt", "AUX.", "Con .log", "prn.a.b", "lpt9\\x", "com0", "Lpt0.txt",
          "COM\xB9", "lpt\xB2.txt", "com\xB3", "CONIN$", "conout$.txt", "nul  "}) {
        EXPECT_FALSE(IsSafeItemName(name)) << name;
    }
}

// Folder and name joined by one separator, the folder's own where it ends in
// one; a path over 259 characters or a name that leaves the folder gives an
// empty target and false.
TEST(ItemTarget, JoinsWithOneSeparatorUpTo259Characters) {
    const std::string folder = "C:\\" + std::string(200, 'f');  // 203 characters
    const std::string fits(55, 'n');                            // 203 + 1 + 55 = 259
    const std::string tooLong(56, 'n');
    struct Case {
        std::string folder, name, target;  // no target: refused
    };
    const Case cases[] = {
        {"C:\\Orvane\\Larkspan", "Larkspan.exe", "C:\\Orvane\\Larkspan\\Larkspan.exe"},
        {"C:\\Orvane\\", "docs/a.txt", "C:\\Orvane\\docs/a.txt"},
        {"C:/Orvane/", "a.txt", "C:/Orvane/a.txt"},
        {folder, fits, folder + "\\" + fits},
        {folder, tooLong, ""},
        {"C:\\Orvane", "../escape.exe", ""},
    };
    for (const Case& c : cases) {
        char out[260] = "stale";
        EXPECT_EQ(BuildItemTarget(out, sizeof(out), c.folder.c_str(), c.name.c_str()), !c.target.empty()) << c.name;
        EXPECT_EQ(c.target, out);
    }
}

TEST(ProgressPercent, MovesInWholePercentsWithoutOverflow) {
    EXPECT_EQ(1u, ProgressPercent(16384, 1000000));
    EXPECT_EQ(0u, ProgressPercent(0, 1000000));
    EXPECT_EQ(100u, ProgressPercent(1000000, 1000000));
    EXPECT_EQ(99u, ProgressPercent(0xFFFFFFFEu, 0xFFFFFFFFu));
    EXPECT_EQ(50u, ProgressPercent(0x7FFFFFFFu, 0xFFFFFFFEu));
    EXPECT_EQ(100u, ProgressPercent(5, 0));
    EXPECT_EQ(100u, ProgressPercent(7, 3));
}

}  // namespace
