// The larkspan-archive console tool, run as a maker would run it.
#include "tests/support/files.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace support;

namespace {

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// Runs the tool with `arguments`, standard output and error caught in files.
ToolRun RunTool(const TempFolder& temp, const std::string& arguments) {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::string outPath = temp / "stdout.bin";
    const std::string errPath = temp / "stderr.txt";
    HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = ::CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string command = "\"" LARKSPAN_ARCHIVE_TOOL "\" " + arguments;
    PROCESS_INFORMATION process{};
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, 60000);
        ::GetExitCodeProcess(process.hProcess, &run.exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    const Bytes outBytes = ReadWholeFile(outPath).value_or(Bytes());
    const Bytes errBytes = ReadWholeFile(errPath).value_or(Bytes());
    run.out.assign(outBytes.begin(), outBytes.end());
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

class ArchiveTool : public ::testing::Test {
protected:
    void SetUp() override {
        packer::Item program = FileItem("Larkspan.exe", PatternData(70000, 41));
        program.modificationTime = 1700000000;  // 2023-11-14T22:13:20Z
        packer::Item stored = FileItem("docs/read me.txt", PatternData(500, 42), packer::Method::Stored);
        stored.externalAttributes = 0x81000021u;
        stored.modificationTime = 0xFFFFFFFFu;
        packer::Item folder = FolderItem("docs/empty/");
        folder.modificationTime = 0;
        archive_ = temp_ / "payload.zip";
        ASSERT_TRUE(WriteWholeFile(archive_, packer::Pack({program, stored, folder}).bytes));
    }
    TempFolder temp_;
    std::string archive_;
};

}  // namespace

TEST_F(ArchiveTool, ListsEveryItemByNameAndByHandle) {
    const std::string expected = "0\t70000\t" + std::string("*") +
                                 "\t0x000000A0\t2023-11-14T22:13:20Z\tLarkspan.exe\n"
                                 "1\t500\t500\t0x000000A1\t2106-02-07T06:28:15Z\tdocs/read me.txt\n"
                                 "2\t0\t0\t0x00000090\t1970-01-01T00:00:00Z\tdocs/empty/\n";
    for (const char* how : {"", "--handle "}) {
        const ToolRun run = RunTool(temp_, std::string(how) + "list " + Quoted(archive_));
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        // The compressed size of the deflate item depends on zlib; the rest is exact.
        std::istringstream lines(run.out);
        std::string first;
        std::getline(lines, first);
        const std::size_t tab = first.find('\t', 8);
        ASSERT_NE(tab, std::string::npos) << run.out;
        const std::string rest((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
        EXPECT_EQ(first.substr(0, 8) + "*" + first.substr(tab) + "\n" + rest, expected);
    }
}

TEST_F(ArchiveTool, ExtractsIntoAFolderAndCatsItems) {
    const std::string out = temp_ / "out\\here";
    ToolRun run = RunTool(temp_, "extract " + Quoted(archive_) + " " + Quoted(out));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(ReadWholeFile(out + "\\Larkspan.exe"), PatternData(70000, 41));
    EXPECT_EQ(ReadWholeFile(out + "\\docs\\read me.txt"), PatternData(500, 42));
    EXPECT_TRUE(FolderExists(out + "\\docs\\empty"));

    run = RunTool(temp_, "--handle cat " + Quoted(archive_) + " 0");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Bytes(run.out.begin(), run.out.end()), PatternData(70000, 41));  // binary, no text conversion
    run = RunTool(temp_, "cat " + Quoted(archive_) + " 2");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.out.empty());
    run = RunTool(temp_, "cat " + Quoted(archive_) + " 3");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("0x00010000"), std::string::npos) << run.err;
}

TEST_F(ArchiveTool, ReportsFailures) {
    // Standard local signatures: listed count, but every item fails.
    packer::Options standard;
    standard.standardLocalSignature = true;
    const std::string plainZip = temp_ / "plain.zip";
    ASSERT_TRUE(WriteWholeFile(plainZip, packer::Pack({FileItem("a.txt", PatternData(10))}, standard).bytes));
    ToolRun run = RunTool(temp_, "list " + Quoted(plainZip));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("0x00000700"), std::string::npos) << run.err;

    // An item that would land outside the folder is refused; the others are written.
    const std::string escaping = temp_ / "escaping.zip";
    ASSERT_TRUE(WriteWholeFile(
        escaping,
        packer::Pack({FileItem("../outside.txt", PatternData(10)), FileItem("inside.txt", PatternData(20))}).bytes));
    run = RunTool(temp_, "extract " + Quoted(escaping) + " " + Quoted(temp_ / "dest"));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("item 0"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(temp_ / "outside.txt"));
    EXPECT_EQ(ReadWholeFile(temp_ / "dest\\inside.txt"), PatternData(20));

    run = RunTool(temp_, "list " + Quoted(temp_ / "missing.zip"));
    EXPECT_EQ(run.exitCode, 1u);
    run = RunTool(temp_, "frobnicate");
    EXPECT_NE(run.exitCode, 0u);
}
