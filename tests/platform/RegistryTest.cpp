#include "platform/FileRegistry.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Status = Registry::Status;

namespace {
constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
const std::string kConfig = "SOFTWARE\\Varnok\\KA\\Config";
}  // namespace

TEST(RegistryTest, KeysAreCreatedOnceAndFoundIgnoringCase) {
    TempDir dir;
    FileRegistry registry(dir / "reg");  // the directory is made on first write
    EXPECT_EQ(registry.OpenKey(kUser, kConfig), Status::NotFound);
    bool created = false;
    ASSERT_EQ(registry.CreateKey(kUser, kConfig, &created), Status::Ok);
    EXPECT_TRUE(created);
    ASSERT_EQ(registry.CreateKey(kUser, "software\\VARNOK\\ka\\config", &created), Status::Ok);
    EXPECT_FALSE(created);
    EXPECT_EQ(registry.OpenKey(kUser, "SOFTWARE\\Varnok"), Status::Ok);
    EXPECT_EQ(registry.OpenKey(kMachine, kConfig), Status::NotFound);
    EXPECT_EQ(
        ReadFile(registry.FileFor(kUser)),
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE]\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Varnok]\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Varnok\\KA]\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Varnok\\KA\\Config]\n\n");

    EXPECT_EQ(registry.DeleteKey(kUser, "Software\\varnok"), Status::Ok);
    EXPECT_EQ(registry.OpenKey(kUser, kConfig), Status::NotFound);
    EXPECT_EQ(registry.OpenKey(kUser, "SOFTWARE"), Status::Ok);
    EXPECT_EQ(registry.DeleteKey(kUser, "Software\\varnok"), Status::NotFound);
}

TEST(RegistryTest, ValuesRoundTripWithEscapesAndTypes) {
    TempDir dir;
    FileRegistry registry(dir.Path());
    const std::string tricky = "a\\b \"q\" \xB0\xA1 =[x]";
    ASSERT_EQ(registry.SetString(kUser, kConfig, "ID", tricky), Status::Ok);
    ASSERT_EQ(registry.SetDword(kUser, kConfig, "WindowMode", 30), Status::Ok);
    ASSERT_EQ(registry.SetDword(kUser, kConfig, "Big", 0xFFFFFFFFu), Status::Ok);
    ASSERT_EQ(registry.SetDword(kUser, kConfig, "windowmode", 31), Status::Ok);  // same value

    const std::string file = ReadFile(registry.FileFor(kUser));
    EXPECT_NE(file.find("\"ID\"=\"a\\\\b \\\"q\\\" \xB0\xA1 =[x]\"\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"WindowMode\"=dword:0000001f\n"), std::string::npos) << file;

    std::string text;
    std::uint32_t number = 0;
    EXPECT_EQ(registry.QueryString(kUser, "software\\varnok\\ka\\config", "id", &text), Status::Ok);
    EXPECT_EQ(text, tricky);
    EXPECT_EQ(registry.QueryDword(kUser, kConfig, "WINDOWMODE", &number), Status::Ok);
    EXPECT_EQ(number, 31u);
    EXPECT_EQ(registry.QueryDword(kUser, kConfig, "Big", &number), Status::Ok);
    EXPECT_EQ(number, 0xFFFFFFFFu);
    EXPECT_EQ(registry.QueryDword(kUser, kConfig, "ID", &number), Status::WrongType);
    EXPECT_EQ(registry.QueryString(kUser, kConfig, "WindowMode", &text), Status::WrongType);
    EXPECT_EQ(registry.QueryString(kUser, kConfig, "Absent", &text), Status::NotFound);
    EXPECT_EQ(registry.QueryString(kUser, "SOFTWARE\\Other", "ID", &text), Status::NotFound);

    EXPECT_EQ(registry.DeleteValue(kUser, kConfig, "id"), Status::Ok);
    EXPECT_EQ(registry.DeleteValue(kUser, kConfig, "ID"), Status::NotFound);
    EXPECT_EQ(registry.QueryString(kUser, kConfig, "ID", &text), Status::NotFound);

    // Names cannot hold a line break, and a text no NUL (a REG_SZ ends there).
    EXPECT_EQ(registry.SetString(kUser, kConfig, "two\nlines", "x"), Status::IoError);
    EXPECT_EQ(registry.SetString(kUser, kConfig, "ID", std::string("nul\0inside", 10)),
              Status::IoError);
    EXPECT_EQ(registry.QueryString(kUser, kConfig, "ID", &text), Status::NotFound);
    // The two roots are separate files.
    EXPECT_EQ(registry.QueryDword(kMachine, kConfig, "WindowMode", &number), Status::NotFound);
}

// A REG_SZ holds any bytes but NUL: line breaks, quotes, back-slashes and bytes above 0x7F
// come back as they went in, through a fresh reader of the file, next to ordinary values.
TEST(RegistryTest, TextsWithAnyBytesReadBackByteForByte) {
    TempDir dir;
    std::string every;
    for (int c = 1; c < 256; ++c) every.push_back(static_cast<char>(c));
    for (const std::string& text : {every, std::string("\n"), std::string("a\r\nb\\\"")}) {
        FileRegistry writer(dir.Path());
        ASSERT_EQ(writer.SetString(kMachine, "SOFTWARE\\K", "A", text), Status::Ok);
        ASSERT_EQ(writer.SetString(kMachine, "SOFTWARE\\K", "Plain", "plain"), Status::Ok);
        std::string back;
        const FileRegistry reader(dir.Path());
        ASSERT_EQ(reader.QueryString(kMachine, "SOFTWARE\\K", "A", &back), Status::Ok);
        EXPECT_EQ(back, text);
        ASSERT_EQ(reader.QueryString(kMachine, "SOFTWARE\\K", "Plain", &back), Status::Ok);
        EXPECT_EQ(back, "plain");
    }
    // Written in the export's byte form, ending with the NUL, on lines of its own.
    const std::string file = ReadFile(dir / "HKEY_LOCAL_MACHINE.reg");
    EXPECT_NE(file.find("\"A\"=hex(1):61,0d,0a,62,5c,22,00\n"), std::string::npos) << file;
}

TEST(RegistryTest, ReadsHandWrittenExportsAndKeepsForeignValues) {
    TempDir dir;
    FileRegistry registry(dir.Path());
    WriteFile(registry.FileFor(kMachine),
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; edited by hand\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnok\\Ka\\Connection]\r\n"
              "\"Key\"=dword:0000ABCD\r\n@=\"default\"\r\n"
              "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n");
    std::uint32_t number = 0;
    std::string text;
    EXPECT_EQ(registry.QueryDword(kMachine, "SOFTWARE\\Varnok\\Ka\\Connection", "Key", &number),
              Status::Ok);
    EXPECT_EQ(number, 0xABCDu);
    EXPECT_EQ(registry.QueryString(kMachine, "SOFTWARE\\Varnok\\Ka\\Connection", "", &text),
              Status::Ok);
    EXPECT_EQ(text, "default");
    EXPECT_EQ(registry.QueryDword(kMachine, "SOFTWARE\\Varnok\\Ka\\Connection", "Blob", &number),
              Status::WrongType);

    ASSERT_EQ(registry.SetString(kMachine, "SOFTWARE\\Varnok\\Ka\\Connection", "ParameterA", "x"),
              Status::Ok);
    const std::string file = ReadFile(registry.FileFor(kMachine));
    EXPECT_NE(file.find("\"Blob\"=hex:01,02,03,04\n"), std::string::npos) << file;
    EXPECT_NE(file.find("@=\"default\"\n"), std::string::npos) << file;
}

TEST(RegistryTest, DamagedFilesAreReportedAndNeverOverwritten) {
    const char* damaged[] = {
        "not a registry file\n",
        "Windows Registry Editor Version 5.00\n\"Orphan\"=dword:1\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=dword:123456789\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=\"unterminated\n",
        "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\X]\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=-\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X\n",
    };
    for (const char* contents : damaged) {
        TempDir dir;
        FileRegistry registry(dir.Path());
        WriteFile(registry.FileFor(kUser), contents);
        std::uint32_t number = 0;
        EXPECT_EQ(registry.OpenKey(kUser, "X"), Status::Damaged) << contents;
        EXPECT_EQ(registry.QueryDword(kUser, "X", "A", &number), Status::Damaged) << contents;
        EXPECT_EQ(registry.SetDword(kUser, "X", "A", 1), Status::Damaged) << contents;
        EXPECT_EQ(registry.CreateKey(kUser, "Y"), Status::Damaged) << contents;
        EXPECT_EQ(registry.DeleteKey(kUser, "X"), Status::Damaged) << contents;
        EXPECT_EQ(ReadFile(registry.FileFor(kUser)), contents);
        // The other root is unaffected.
        EXPECT_EQ(registry.SetDword(kMachine, "X", "A", 1), Status::Ok);
    }

    TempDir dir;
    FileRegistry registry(dir.Path());
    WriteFile(registry.FileFor(kUser), "\n\n");  // blank: an empty registry, not damage
    EXPECT_EQ(registry.SetDword(kUser, "X", "A", 1), Status::Ok);
    std::filesystem::create_directories(registry.FileFor(kMachine));
    EXPECT_EQ(registry.OpenKey(kMachine, "X"), Status::IoError);
}
