// torvane-tool as scripts use it: command lines, output formats and exit statuses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::WriteFile;

RunResult Tool(std::vector<std::string> args) {
    args.insert(args.begin(), testsupport::ProgramPath("torvane-tool").string());
    return testsupport::Run(args);
}

// Makes a zip archive with Python's zipfile: `script` gets `z` open for writing.
void MakeZip(const fs::path& archive, const std::string& script) {
    const auto r = testsupport::Run(
        {"/usr/bin/python3", "-c",
         "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n" + script + "\nz.close()\n",
         archive.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
}

TEST(ToolWtf, BuildDumpGetRoundTrip) {
    TempDir dir;
    WriteFile(dir / "src.txt",
              "# launcher texts\n"
              "13\t첫 번째 메시지\n"
              "\n"
              "128\tCaption\r\n"
              "136\tline one\\nline two\\twith tab \\\\ and 100%\n"
              "-5\tnegative\n");
    auto r = Tool({"wtf", "build", (dir / "src.txt").string(), (dir / "message.wtf").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    // Texts are stored in CP949.
    const std::string bytes = ReadFile(dir / "message.wtf");
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xCC);
    EXPECT_EQ(bytes[24], 4);

    r = Tool({"wtf", "dump", (dir / "message.wtf").string()});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Stdout,
              "13\t첫 번째 메시지\n128\tCaption\n136\tline one\\nline two\\twith tab \\\\ and "
              "100%\n-5\tnegative\n");
    // The index error of the negative number is the loader's box.
    EXPECT_EQ(r.Stderr, "Error: message index table make error!!\n");

    r = Tool({"wtf", "get", (dir / "message.wtf").string(), "136"});
    EXPECT_EQ(r.Stdout, "line one\nline two\twith tab \\ and 100%\n");
    r = Tool({"wtf", "get", (dir / "message.wtf").string(), "999"});
    EXPECT_EQ(r.Stdout, "첫 번째 메시지\n");
    r = Tool({"wtf", "get", (dir / "message.wtf").string(), "-5"});
    EXPECT_EQ(r.Stdout, "negative\n");

    // Another code page.
    WriteFile(dir / "zh.txt", "1\t中文\n");
    r = Tool({"wtf", "build", (dir / "zh.txt").string(), (dir / "zh.wtf").string(), "--codepage",
              "GBK"});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(ReadFile(dir / "zh.wtf").size(), 28u + 4u + 4u);
    r = Tool({"wtf", "get", (dir / "zh.wtf").string(), "1", "--codepage", "GBK"});
    EXPECT_EQ(r.Stdout, "中文\n");
}

TEST(ToolWtf, BuildRejectsBadSourcesAndWritesNothing) {
    TempDir dir;
    const std::vector<std::string> bad = {"1 no tab\n",
                                          "x\ttext\n",
                                          "40000\ttoo big\n",
                                          "1\tbad \\q escape\n",
                                          "1\t" + std::string(256, 'a') + "\n",
                                          "1\temoji \xF0\x9F\x98\x80\n",
                                          "2\t\n",
                                          "# empty\n"};
    for (const std::string& source : bad) {
        WriteFile(dir / "src.txt", source);
        const auto r =
            Tool({"wtf", "build", (dir / "src.txt").string(), (dir / "out.wtf").string()});
        EXPECT_EQ(r.ExitCode, 1) << source;
        EXPECT_FALSE(r.Stderr.empty()) << source;
        EXPECT_FALSE(fs::exists(dir / "out.wtf")) << source;
    }
    EXPECT_EQ(Tool({"wtf", "build", (dir / "src.txt").string()}).ExitCode, 64);
}

// Message 143 is a printf format the launcher fills with one integer: a text whose
// conversions differ would print garbage or read past its arguments.
TEST(ToolWtf, BuildRefusesFormatsTheLauncherDoesNotFill) {
    TempDir dir;
    for (const char* text : {"no number", "error %s", "errors %d and %d", "error %*d", "%ld",
                             "error %999d", "100%% and %n"}) {
        SCOPED_TRACE(text);
        WriteFile(dir / "src.txt", std::string("100\tfine\n143\t") + text + "\n");
        const auto r =
            Tool({"wtf", "build", (dir / "src.txt").string(), (dir / "out.wtf").string()});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_THAT(r.Stderr, HasSubstr("src.txt:2: message 143 needs exactly one integer"));
        EXPECT_FALSE(fs::exists(dir / "out.wtf"));
    }
    // What the launcher does fill in; and a '%' in a text it shows as it stands.
    for (const char* text : {"error %d", "Fehler %5d (100%%)", "0x%08X", "%c"}) {
        SCOPED_TRACE(text);
        WriteFile(dir / "src.txt", std::string("100\t100% done\n143\t") + text + "\n");
        const auto r =
            Tool({"wtf", "build", (dir / "src.txt").string(), (dir / "out.wtf").string()});
        EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    }
}

TEST(ToolWtf, LoaderErrorsGoToStderr) {
    TempDir dir;
    const std::string missing = (dir / "message.wtf").string();
    auto r = Tool({"wtf", "get", missing, "13"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Stdout, "Msg error\n");
    EXPECT_EQ(r.Stderr, "Error: " + missing + " 파일이 존재하지 않습니다.\n");
    WriteFile(dir / "bad.wtf", "nope");
    r = Tool({"wtf", "dump", (dir / "bad.wtf").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Stdout, "");
    EXPECT_EQ(r.Stderr, "Error: TextCode 데이터가 아닙니다.\n");
}

TEST(ToolZip, ListTestAndExtract) {
    TempDir dir;
    MakeZip(dir / "a.zip",
            "z.writestr(zipfile.ZipInfo('Data/', (2020, 5, 17, 10, 20, 30)), '')\n"
            "i = zipfile.ZipInfo('Data/x.att', (2020, 5, 17, 10, 20, 30))\n"
            "i.compress_type = zipfile.ZIP_DEFLATED\n"
            "i.external_attr = 0x21\n"
            "z.writestr(i, 'attack ' * 1000)\n"
            "z.writestr('plain.txt', 'hello')\n");
    auto r = Tool({"zip", "list", (dir / "a.zip").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> out;
        std::string line;
        std::istringstream in(r.Stdout);
        while (std::getline(in, line)) out.push_back(line);
        return out;
    }();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Data/\t0\t0\t0\t00000000");
    EXPECT_EQ(lines[1].substr(0, 13), "Data/x.att\t8\t");
    EXPECT_EQ(lines[2], "plain.txt\t0\t5\t5\t3610a686");

    EXPECT_EQ(Tool({"zip", "test", (dir / "a.zip").string()}).ExitCode, 0);

    r = Tool({"zip", "extract", (dir / "a.zip").string(), (dir / "out").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(testsupport::ListTree(dir / "out"),
              (std::vector<std::string>{"Data/x.att", "plain.txt"}));
    EXPECT_EQ(ReadFile(dir / "out/Data/x.att").size(), 7000u);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out/Data/x.att").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);  // read-only in the archive
    struct tm when {};
    localtime_r(&st.st_mtime, &when);
    EXPECT_EQ(when.tm_year, 120);
    EXPECT_EQ(when.tm_hour, 10);
    EXPECT_EQ(when.tm_sec, 30);
    // Extracting again replaces the read-only copy.
    EXPECT_EQ(Tool({"zip", "extract", (dir / "a.zip").string(), (dir / "out").string()}).ExitCode,
              0);
}

// The entries are extracted by several threads where there are processors for them: every
// file arrives whole, and of names that differ only in letter case the later entry wins, as
// it would with one thread.
TEST(ToolZip, ManyEntriesAndNamesDifferingInCaseExtractAsInArchiveOrder) {
    TempDir dir;
    MakeZip(dir / "many.zip",
            "for i in range(200):\n"
            "    z.writestr('Dir%d/f%03d.bin' % (i % 3, i), ('%03d' % i) * (1000 + i))\n"
            "z.writestr('Same.txt', 'first')\n"
            "z.writestr('dir0/f000.bin', 'middle')\n"
            "z.writestr('SAME.TXT', 'second')\n"
            "z.writestr('same.txt', 'third')\n");
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(dir / "out");
        const auto r =
            Tool({"zip", "extract", (dir / "many.zip").string(), (dir / "out").string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
        const auto tree = testsupport::ListTree(dir / "out");
        ASSERT_EQ(tree.size(), 201u);
        EXPECT_EQ(tree.back(), "Same.txt");
        EXPECT_EQ(ReadFile(dir / "out" / "Same.txt"), "third");
        EXPECT_EQ(ReadFile(dir / "out" / "Dir0" / "f000.bin"), "middle");
        for (int i = 1; i < 200; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Dir%d/f%03d.bin", i % 3, i);
            char digits[8];
            std::snprintf(digits, sizeof digits, "%03d", i);
            std::string expected;
            for (int k = 0; k < 1000 + i; ++k) expected += digits;
            ASSERT_EQ(ReadFile(dir / "out" / name), expected) << name;
        }
    }
}

TEST(ToolZip, UnsafeNamesAreRefused) {
    TempDir dir;
    MakeZip(dir / "evil.zip",
            "for n in ['../escape.txt', '/abs.txt', 'C:drive.txt', 'a/../../up.txt', 'ok.txt']:\n"
            "    i = zipfile.ZipInfo('x')\n"
            "    i.filename = n\n"
            "    z.writestr(i, n)\n");
    fs::create_directories(dir / "game");
    const auto r = Tool({"zip", "extract", (dir / "evil.zip").string(), (dir / "game").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Stderr.find("../escape.txt"), std::string::npos);
    EXPECT_EQ(testsupport::ListTree(dir.Path()),
              (std::vector<std::string>{"evil.zip", "game/ok.txt"}));
}

TEST(ToolZip, ReaderErrorsPrintCause) {
    TempDir dir;
    MakeZip(dir / "a.zip", "z.writestr('x.txt', 'payload')\n");
    std::string bytes = ReadFile(dir / "a.zip");
    // Flip a byte of the stored data: the CRC no longer matches.
    const auto at = bytes.find("payload");
    bytes[at] = 'P';
    WriteFile(dir / "crc.zip", bytes);
    auto r = Tool({"zip", "test", (dir / "crc.zip").string()});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Stderr, "cause 12\n");
    WriteFile(dir / "junk.zip", "not an archive");
    r = Tool({"zip", "list", (dir / "junk.zip").string()});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Stderr, "cause 11\n");
    r = Tool({"zip", "list", (dir / "missing.zip").string()});
    EXPECT_EQ(r.ExitCode, 2);
}

TEST(ToolVkc, RestoreResultIsExitStatus) {
    TempDir dir;
    WriteFile(dir / "x.att", std::string(100000, 'q') + "tail");
    ASSERT_EQ(testsupport::Run({"bzip2", "-k", (dir / "x.att").string()}).ExitCode, 0);
    fs::create_directories(dir / "Temp");
    fs::rename(dir / "x.att.bz2", dir / "Temp/x.att.VKC");
    auto r = Tool({"vkc", "restore", (dir / "Temp/x.att.VKC").string(), (dir / "Temp").string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(ReadFile(dir / "Temp/x.att"), ReadFile(dir / "x.att"));
    WriteFile(dir / "Temp/y.VKC", "BZh9garbage");
    r = Tool({"vkc", "restore", (dir / "Temp/y.VKC").string(), (dir / "Temp").string()});
    EXPECT_EQ(r.ExitCode, 1);
}

TEST(ToolLists, VersionsAndTokensAsTheSessionsReadThem) {
    TempDir dir;
    WriteFile(dir / "version.wvd",
              "// versions\n\"1.00.01\"\n\"1.2.3\" \"toolonglabel\"\n\"9.99.99\"\n");
    auto r = Tool({"versions", (dir / "version.wvd").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(r.Stdout, "1.00.01\t1.0.1\t65537\n1.2.3\t1.2.3\t66051\n9.99.99\t9.99.99\t615267\n");

    std::string many;
    for (int i = 0; i < 1000; ++i) many += "\"1.0." + std::to_string(i % 100) + "\"\n";
    WriteFile(dir / "many.wvd", many);
    r = Tool({"versions", (dir / "many.wvd").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Stderr.find("message 114"), std::string::npos) << r.Stderr;
    r = Tool({"versions", (dir / "absent.wvd").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Stderr.find("message 113"), std::string::npos) << r.Stderr;

    WriteFile(dir / "list.inf", "#PACKINGVERSION#\n\"Data\\a.bmd\" @ 1 x_y.z ; {\n");
    r = Tool({"tokens", (dir / "list.inf").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(r.Stdout,
              "35\tPACKINGVERSION\t0\n0\tData\\a.bmd\t0\n60\t\t0\n1\t1\t1\n0\tx_y.z\t0\n"
              "59\t\t0\n123\t\t0\n");
    EXPECT_EQ(Tool({"tokens"}).ExitCode, 64);
    EXPECT_EQ(Tool({"versions", "--help"}).ExitCode, 0);
}

TEST(ToolIni, GetAndSetAsTheLauncherDoes) {
    TempDir dir;
    const std::string ini = (dir / "config.ini").string();
    WriteFile(ini, "; kept\r\n[login]\r\nversion = \"1.00.03\"\r\n");
    auto r = Tool({"ini", "get", ini, "LOGIN", "Version", "0.0.0"});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(r.Stdout, "1.00.03\n");
    EXPECT_EQ(Tool({"ini", "get", ini, "LOGIN", "Version", "0.0.0", "5"}).Stdout, "1.00\n");
    EXPECT_EQ(Tool({"ini", "get", ini, "LOGIN", "Absent", "dflt  "}).Stdout, "dflt\n");

    r = Tool({"ini", "set", ini, "LOGIN", "TestVersion", "1.00.04"});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(Tool({"ini", "get", ini, "login", "testversion", ""}).Stdout, "1.00.04\n");
    EXPECT_EQ(ReadFile(ini).rfind("; kept\r\n", 0), 0u);
    EXPECT_EQ(Tool({"ini", "set", ini, "LOGIN", "a=b", "x"}).ExitCode, 1);
    EXPECT_EQ(Tool({"ini", "get", ini, "LOGIN"}).ExitCode, 64);
    EXPECT_EQ(Tool({"ini", "get", ini, "LOGIN", "Version", "", "many"}).ExitCode, 64);
}

}  // namespace
