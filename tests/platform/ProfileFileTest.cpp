// Reading and editing rules of profile files, as the game's tools observe them.
#include "platform/ProfileFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct Read {
    std::size_t Count;
    std::string Text;  // buffer contents up to Count + extra bytes
};

// Calls the reader with a garbage-filled buffer; returns the count and `Count + extra` bytes.
Read Get(const char* section, const char* key, const char* def, std::size_t size,
         const std::filesystem::path& file, std::size_t extra = 0) {
    char buffer[300];
    std::memset(buffer, 'k', sizeof buffer);
    const std::size_t n = GetPrivateProfileStringA(section, key, def, buffer, size, file);
    return {n, std::string(buffer, n + extra)};
}

const char* const kF1 =
    "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n[section2]\r\n";

class ProfileReadTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::string content = kF1;
        if (GetParam()) {  // CR-only line ends
            std::string cr;
            for (std::size_t i = 0; i < content.size(); ++i) {
                if (content[i] == '\r' && content[i + 1] == '\n') ++i;
                cr += content[i] == '\n' ? '\r' : content[i];
            }
            content = cr;
        }
        WriteFile(file, content);
    }
    TempDir dir;
    std::filesystem::path file = dir / "winetest.ini";
};

}  // namespace

TEST_P(ProfileReadTest, MissingNamesGiveTheDefaultWithTrailingBlanksTrimmed) {
    EXPECT_EQ(Get("notasection", "name1", "default", 260, file).Text, "default");
    EXPECT_EQ(Get("section1", "notakey", "default", 260, file).Text, "default");
    EXPECT_EQ(Get("", "name1", "default", 260, file).Text, "default");
    EXPECT_EQ(Get("section1", "", "default", 260, file).Text, "default");
    EXPECT_EQ(Get("", "name1", nullptr, 260, file).Count, 0u);
    EXPECT_EQ(Get("section1", "", "", 260, file).Count, 0u);
    EXPECT_EQ(Get("section1", "name1", "default", 260, "").Text, "default");
    EXPECT_EQ(Get("section1", "name1", "default", 260, dir / "nonexistent").Text, "default");
    EXPECT_EQ(Get("section2", "DoesntExist", "", 260, file).Count, 0u);

    const Read trimmed = Get("", "name1", "one two  ", 260, file, 1);
    EXPECT_EQ(trimmed.Count, 7u);
    EXPECT_EQ(trimmed.Text, std::string("one two\0", 8));
    EXPECT_EQ(Get("section1", "", "default  ", 260, file).Text, "default");
}

TEST_P(ProfileReadTest, ValuesAreFoundCaseInsensitivelyWithQuotesStripped) {
    EXPECT_EQ(Get("section1", "name1", "default", 260, file).Text, "val1");
    EXPECT_EQ(Get("section1", "name4", "default", 260, file).Text, "a");
    EXPECT_EQ(Get("section1", "name2", "default", 260, file).Text, "val2");
    EXPECT_EQ(Get("section1", "NaMe1", "default", 260, file).Text, "val1");
    EXPECT_EQ(Get("SECTION1", "name1", "default", 260, file).Text, "val1");
    // A line without '=' is not a key.
    EXPECT_EQ(Get("section1", "name3", "default", 260, file).Text, "default");
}

TEST_P(ProfileReadTest, SmallBuffersTruncateAndTerminate) {
    char buffer[8] = "kumquat";
    EXPECT_EQ(GetPrivateProfileStringA("section1", "name1", "default", buffer, 0, file), 0u);
    EXPECT_STREQ(buffer, "kumquat");

    const Read four = Get("section1", "name1", "default", 4, file, 1);
    EXPECT_EQ(four.Text, std::string("val\0", 4));
    const Read five = Get("section1", "name1", "default", 5, file, 1);
    EXPECT_EQ(five.Text, std::string("val1\0", 5));
    const Read one = Get("section1", "name4", "default", 1, file, 1);
    EXPECT_EQ(one.Text, std::string("\0", 1));
    // The version key is read with a 10-byte buffer: nine characters survive.
    WriteFile(dir / "config.ini", "[LOGIN]\r\nVersion=255.255.255\r\n");
    EXPECT_EQ(Get("LOGIN", "Version", "0.0.0", 10, dir / "config.ini").Text, "255.255.2");
}

TEST_P(ProfileReadTest, NullNamesListSectionsAndKeys) {
    EXPECT_EQ(Get(nullptr, "name1", "default", 260, file, 1).Text,
              std::string("section1\0section2\0\0", 19));
    EXPECT_EQ(Get("section1", nullptr, "default", 260, file, 1).Text,
              std::string("name1\0name2\0name4\0\0", 19));
    EXPECT_EQ(Get(nullptr, "name1", "default", 16, file, 2).Text,
              std::string("section1\0secti\0\0", 16));
    EXPECT_EQ(Get("section1", nullptr, "default", 16, file, 2).Text,
              std::string("name1\0name2\0na\0\0", 16));
}

INSTANTIATE_TEST_SUITE_P(LineEnds, ProfileReadTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CR" : "CRLF"; });

TEST(ProfileFileTest, OddFilesReadSensibly) {
    TempDir dir;
    // Keys before any section belong to none; "[]" is a section with an empty name; "=v"
    // is a key with an empty name; a trailing NUL is ignored.
    const char f3Bytes[] =
        "\r\nkey=val_no_section\r\n[]\r\nkey=val_e_section\r\n[s]\r\n=val_no_key\r\n[t]\r\n";
    const std::string f3(f3Bytes, sizeof f3Bytes);  // with its terminating NUL
    WriteFile(dir / "f3.ini", f3);
    EXPECT_EQ(Get("", "key", "", 100, dir / "f3.ini").Text, "val_e_section");
    EXPECT_EQ(Get("s", "", "", 100, dir / "f3.ini").Text, "val_no_key");

    WriteFile(dir / "lf.ini", "[Test]\nProfileInt=123\n; note=1\n  [ Spaced ]  \n k = v w \n");
    EXPECT_EQ(Get("Test", "ProfileInt", "", 100, dir / "lf.ini").Text, "123");
    EXPECT_EQ(Get("Test", "; note", "x", 100, dir / "lf.ini").Text, "x");
    EXPECT_EQ(Get("Spaced", "k", "", 100, dir / "lf.ini").Text, "v w");
    // No stale state: a rewritten file is read afresh.
    WriteFile(dir / "lf.ini", "[Test]\nProfileInt=124\n");
    EXPECT_EQ(Get("Test", "ProfileInt", "", 100, dir / "lf.ini").Text, "124");
}

TEST(ProfileFileTest, WritesBuildUpAppendAndDelete) {
    TempDir dir;
    const auto file = dir / "tmp.ini";
    WriteFile(file, "");
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key1", "string1", file));
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key2", "string2", file));
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key3", "string3", file));
    ASSERT_TRUE(WritePrivateProfileStringA("App2", "key4", "string4", file));
    ASSERT_TRUE(WritePrivateProfileStringA("App3", "key5", "string5", file));
    EXPECT_EQ(ReadFile(file),
              "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n[App2]\r\nkey4=string4\r\n"
              "[App3]\r\nkey5=string5\r\n");

    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key2", nullptr, file));
    ASSERT_TRUE(WritePrivateProfileStringA("app1", "KEY2", nullptr, file));
    EXPECT_EQ(ReadFile(file),
              "[App1]\r\nkey1=string1\r\nkey3=string3\r\n[App2]\r\nkey4=string4\r\n"
              "[App3]\r\nkey5=string5\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("App1", nullptr, "string1", file));
    ASSERT_TRUE(WritePrivateProfileStringA("App2", nullptr, nullptr, file));
    EXPECT_EQ(ReadFile(file), "[App3]\r\nkey5=string5\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("App3", "key5", nullptr, file));
    EXPECT_EQ(ReadFile(file), "[App3]\r\n");
}

TEST(ProfileFileTest, WriteArgumentsAndMissingFiles) {
    TempDir dir;
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "string", dir / "a.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a.ini"));
    WriteFile(dir / "empty.ini", "");
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "string", dir / "empty.ini"));
    EXPECT_EQ(ReadFile(dir / "empty.ini"), "");
    EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "string", ""));

    EXPECT_TRUE(WritePrivateProfileStringA("App", nullptr, "string", dir / "b.ini"));
    EXPECT_EQ(ReadFile(dir / "b.ini"), "");
    EXPECT_TRUE(WritePrivateProfileStringA("App", "key", nullptr, dir / "c.ini"));
    EXPECT_EQ(ReadFile(dir / "c.ini"), "");
    EXPECT_TRUE(WritePrivateProfileStringA("App", "key", "", dir / "d.ini"));
    EXPECT_EQ(ReadFile(dir / "d.ini"), "[App]\r\nkey=\r\n");

    EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "a\r\n[Evil]", dir / "d.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("App", "k=ey", "x", dir / "d.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("App", " [x]", "x", dir / "d.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("App", ";k", "x", dir / "d.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("A]pp", "k", "x", dir / "d.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "x", dir / "no-dir" / "e.ini"));
    EXPECT_EQ(ReadFile(dir / "d.ini"), "[App]\r\nkey=\r\n");
}

TEST(ProfileFileTest, EditsKeepEveryOtherByte) {
    TempDir dir;
    // Text before the first section, NULs included, survives; the new section starts on a
    // line of its own.
    const std::string junk("Data \0 before \0 first \0 section", 31);
    WriteFile(dir / "junk.ini", junk);
    ASSERT_TRUE(WritePrivateProfileStringA("section1", "key1", "string1", dir / "junk.ini"));
    EXPECT_EQ(ReadFile(dir / "junk.ini"), junk + "\r\n[section1]\r\nkey1=string1\r\n");

    // A new key lands after the section's last entry, before the trailing NUL, and the
    // comments, blank lines and LF line ends of the file stay as they were.
    const std::string f2("[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n\0", 45);
    WriteFile(dir / "f2.ini", f2);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "name5", "val5", dir / "f2.ini"));
    EXPECT_EQ(Get("s", nullptr, "", 100, dir / "f2.ini", 1).Text,
              std::string("name1\0name2\0name4\0name5\0\0", 25));

    const auto config = dir / "config.ini";
    WriteFile(config,
              "; game settings\n[LOGIN]\nVersion = 1.00.01 ; old\nUser=x\n\n; graphics\n[VIDEO]\n"
              "Depth=16");
    ASSERT_TRUE(WritePrivateProfileStringA("login", "VERSION", "1.04.05", config));
    ASSERT_TRUE(WritePrivateProfileStringA("LOGIN", "TestVersion", "1.04.07", config));
    ASSERT_TRUE(WritePrivateProfileStringA("VIDEO", "Mode", "w", config));
    EXPECT_EQ(ReadFile(config),
              "; game settings\n[LOGIN]\nVersion=1.04.05\nUser=x\nTestVersion=1.04.07\n\n"
              "; graphics\n[VIDEO]\nDepth=16\nMode=w\n");
    EXPECT_EQ(Get("LOGIN", "Version", "0.0.0", 10, config).Text, "1.04.05");
}
