// The Wine prefix store while no Wine server runs: edits of system.reg and user.reg in a
// prefix made here (the files as Wine writes them), the code page at the border, and the
// refusals. The same store through a real Wine is tested in tests/wine.
#include "platform/WineRegistry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "platform/WineRegistryExport.h"
#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Status = Registry::Status;

namespace {

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
const std::string kConnection = "SOFTWARE\\Varnok\\Ka\\Connection";
const std::string kConfig = "SOFTWARE\\Varnok\\KA\\Config";

// A system.reg as Wine leaves it: a value continued over lines, escapes, a link key.
const std::string kSystemReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Classes\\\\.txt] 1796721218\n"
    "#time=1dd86f4690bd074\n"
    "@=\"txtfile\"\n"
    "\"Content Type\"=\"text/plain\"\n"
    "\n"
    "[Software\\\\Wine\\\\Fonts] 1796721220\n"
    "#time=1dd86f46a7d1a08\n"
    "\"CaptionFont\"=hex:f5,ff,ff,ff,00,00,00,00,00,00,00,00,00,00,00,00,bc,02,00,00,\\\n"
    "  00,00,00,01\n"
    "\"Name\"=\"\\xd83c\\xdf0e \\\"q\\\" C:\\\\windows\"\n"
    "\n"
    "[System\\\\CurrentControlSet] 1796721220\n"
    "#time=1dd86f46a7d1a08\n"
    "#link\n"
    "\"SymbolicLinkValue\"=hex(6):5c,00\n"
    "\n";

const std::string kUserReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Control Panel\\\\Desktop] 1796721221\n"
    "#time=1dd86f46aa0f6c6\n"
    "\"UserPreferencesMask\"=hex:30,00,02,80,12,00,00,00\n"
    "\n";

struct Prefix {
    TempDir dir;
    Prefix() {
        WriteFile(dir / "system.reg", kSystemReg);
        WriteFile(dir / "user.reg", kUserReg);
    }
    WineRegistry Open(int bits = 32, const std::string& codePage = "CP949") {
        WineRegistryOptions options;
        options.Prefix = dir.Path();
        options.ClientBits = bits;
        options.CodePage = codePage;
        options.WineProgram = "/nonexistent/wine";  // never needed while no server runs
        return WineRegistry(options);
    }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(WineRegistryTest, HandOffValuesLandWhereA32BitClientLooksAndEverythingElseStays) {
    Prefix prefix;
    WineRegistry registry = prefix.Open(32);
    ASSERT_EQ(registry.SetString(kMachine, kConnection, "ParameterA", "H\x88i",
                                 Registry::TextEnd::Unterminated),
              Status::Ok)
        << registry.LastProblem();
    ASSERT_EQ(registry.SetDword(kMachine, kConnection, "ParameterB", 0xDA7B), Status::Ok);
    ASSERT_EQ(registry.SetDword(kMachine, kConnection, "Key", 123456), Status::Ok);

    const std::string file = ReadFile(prefix.dir / "system.reg");
    // The file as it was, then the new key: nothing else was rewritten.
    ASSERT_EQ(file.substr(0, kSystemReg.size()), kSystemReg);
    const std::string added = file.substr(kSystemReg.size());
    EXPECT_TRUE(added.rfind("[Software\\\\Wow6432Node\\\\Varnok\\\\Ka\\\\Connection] ", 0) == 0)
        << added;
    // 0x88 0x69 is one CP949 character (U+AD5B); exactly the text, no terminator.
    EXPECT_TRUE(Contains(added, "\n\"ParameterA\"=hex(1):48,00,9d,b2\n")) << added;
    EXPECT_TRUE(Contains(added, "\n\"ParameterB\"=dword:0000da7b\n")) << added;
    EXPECT_TRUE(Contains(added, "\n\"Key\"=dword:0001e240\n")) << added;

    std::string text;
    EXPECT_EQ(
        registry.QueryString(kMachine, "software\\varnok\\KA\\connection", "parametera", &text),
        Status::Ok);
    EXPECT_EQ(text, "H\x88i");
    // A 64-bit client's view is another key.
    EXPECT_EQ(prefix.Open(64).OpenKey(kMachine, kConnection), Status::NotFound);
    EXPECT_EQ(ReadFile(prefix.dir / "user.reg"), kUserReg);

    ASSERT_EQ(registry.DeleteKey(kMachine, kConnection), Status::Ok);
    EXPECT_EQ(registry.OpenKey(kMachine, kConnection), Status::NotFound);
    EXPECT_EQ(ReadFile(prefix.dir / "system.reg"), kSystemReg);
}

TEST(WineRegistryTest, OptionsGoToTheUserFileAsTerminatedTextsAndDwords) {
    Prefix prefix;
    WineRegistry registry = prefix.Open();
    bool created = false;
    ASSERT_EQ(registry.CreateKey(kUser, kConfig, &created), Status::Ok);
    EXPECT_TRUE(created);
    ASSERT_EQ(registry.SetString(kUser, kConfig, "ID", "\xC7\xD1 \"x\\y\""), Status::Ok);
    ASSERT_EQ(registry.SetDword(kUser, kConfig, "Resolution", 0xFFFFFFFFu), Status::Ok);
    const std::string file = ReadFile(prefix.dir / "user.reg");
    EXPECT_TRUE(Contains(file, "[SOFTWARE\\\\Varnok\\\\KA\\\\Config] ")) << file;  // no Wow6432Node
    EXPECT_TRUE(Contains(file, "\n\"ID\"=\"\\xd55c \\\"x\\\\y\\\"\"\n")) << file;
    EXPECT_TRUE(Contains(file, "\n\"Resolution\"=dword:ffffffff\n")) << file;

    std::string id;
    std::uint32_t resolution = 0;
    EXPECT_EQ(registry.QueryString(kUser, kConfig, "ID", &id), Status::Ok);
    EXPECT_EQ(id, "\xC7\xD1 \"x\\y\"");
    EXPECT_EQ(registry.QueryDword(kUser, kConfig, "resolution", &resolution), Status::Ok);
    EXPECT_EQ(resolution, 0xFFFFFFFFu);
    EXPECT_EQ(registry.QueryDword(kUser, kConfig, "ID", &resolution), Status::WrongType);
    EXPECT_EQ(registry.CreateKey(kUser, kConfig, &created), Status::Ok);
    EXPECT_FALSE(created);
    EXPECT_EQ(registry.DeleteValue(kUser, kConfig, "id"), Status::Ok);
    EXPECT_EQ(registry.QueryString(kUser, kConfig, "ID", &id), Status::NotFound);
}

TEST(WineRegistryTest, ValuesWrittenByWineReadBackInTheCodePage) {
    Prefix prefix;
    // The escaped name holds a character outside CP1252 (a surrogate pair).
    std::string text;
    EXPECT_EQ(
        prefix.Open(64, "CP1252").QueryString(kMachine, "Software\\Wine\\Fonts", "Name", &text),
        Status::WrongType);
    EXPECT_EQ(
        prefix.Open(64, "UTF-8").QueryString(kMachine, "Software\\Wine\\Fonts", "Name", &text),
        Status::Ok);
    EXPECT_EQ(text, "\xF0\x9F\x8C\x8E \"q\" C:\\windows");
    EXPECT_EQ(prefix.Open(64).QueryString(kMachine, "Software\\Classes\\.txt", "", &text),
              Status::Ok);
    EXPECT_EQ(text, "txtfile");
    EXPECT_EQ(prefix.Open(64).QueryString(kMachine, "Software\\Wine\\Fonts", "CaptionFont", &text),
              Status::WrongType);
}

TEST(WineRegistryTest, BytesTheCodePageCannotDecodeAreRefusedWithNothingWritten) {
    Prefix prefix;
    WineRegistry registry = prefix.Open(32, "CP949");
    // 0xC9 0x21: a lead byte without a valid trail byte in CP949.
    EXPECT_EQ(registry.SetString(kMachine, kConnection, "ParameterA", "10.0\xC9!",
                                 Registry::TextEnd::Unterminated),
              Status::IoError);
    EXPECT_TRUE(Contains(registry.LastProblem(), "0xC9")) << registry.LastProblem();
    EXPECT_TRUE(Contains(registry.LastProblem(), "offset 4")) << registry.LastProblem();
    EXPECT_TRUE(Contains(registry.LastProblem(), "CP949")) << registry.LastProblem();
    EXPECT_EQ(ReadFile(prefix.dir / "system.reg"), kSystemReg);
    // The same bytes are whole characters of CP1252.
    EXPECT_EQ(prefix.Open(32, "CP1252").SetString(kMachine, kConnection, "ParameterA", "10.0\xC9!"),
              Status::Ok);
}

TEST(WineRegistryTest, UnusablePrefixesAreNamedAndLeftAlone) {
    TempDir dir;
    WineRegistryOptions options;
    options.Prefix = dir / "missing";
    WineRegistry missing(options);
    EXPECT_EQ(missing.SetDword(kMachine, kConnection, "Key", 1), Status::IoError);
    EXPECT_TRUE(Contains(missing.LastProblem(), (dir / "missing").string() + " does not exist"))
        << missing.LastProblem();
    EXPECT_TRUE(Contains(missing.LastProblem(), "wineboot -i")) << missing.LastProblem();
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

    options.Prefix = dir.Path();  // a directory, but no prefix in it
    WineRegistry empty(options);
    EXPECT_EQ(empty.SetDword(kMachine, kConnection, "Key", 1), Status::IoError);
    EXPECT_TRUE(Contains(empty.LastProblem(), "system.reg is missing")) << empty.LastProblem();
    EXPECT_FALSE(std::filesystem::exists(dir / "system.reg"));

    Prefix damaged;
    const std::string broken = kSystemReg + "[Software\\\\Broken] 1\nnot a value line\n";
    WriteFile(damaged.dir / "system.reg", broken);
    WineRegistry registry = damaged.Open();
    EXPECT_EQ(registry.SetDword(kMachine, kConnection, "Key", 1), Status::Damaged);
    EXPECT_EQ(registry.OpenKey(kMachine, kConnection), Status::Damaged);
    EXPECT_TRUE(Contains(registry.LastProblem(), "system.reg is damaged"))
        << registry.LastProblem();
    EXPECT_EQ(ReadFile(damaged.dir / "system.reg"), broken);
    // The other root's file is fine and still usable.
    EXPECT_EQ(registry.SetDword(kUser, kConfig, "WindowMode", 0), Status::Ok);

    WriteFile(damaged.dir / "system.reg", "");  // cut to nothing, as a full disk leaves it
    EXPECT_EQ(registry.SetDword(kMachine, kConnection, "Key", 1), Status::Damaged);
    EXPECT_EQ(ReadFile(damaged.dir / "system.reg"), "");
}

TEST(WineRegistryTest, RegeditExportsAndImportsCarryTextsExactly) {
    // An export as Wine's regedit writes it: UTF-16 with a byte-order mark, CRLF lines.
    const std::u16string exportText =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Varnok\\Ka\\Connection]\r\n"
        u"\"Key\"=dword:0001e240\r\n"
        u"\"ParameterA\"=\"H\xB29Di \\\"\\\\\"\r\n"
        u"\"Raw\"=hex(1):41,00,42,00,\\\r\n  43,00\r\n"
        u"\"Blob\"=hex:01,02\r\n\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : exportText) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    WineRegistryFile view;
    ASSERT_TRUE(ReadRegistryExport(bytes, u"HKEY_LOCAL_MACHINE", view, 0));
    const std::u16string key = u"Software\\Wow6432Node\\Varnok\\Ka\\Connection";
    EXPECT_EQ(view.FindValue(key, u"Key")->Number, 123456u);
    EXPECT_EQ(view.FindValue(key, u"ParameterA")->Text, u"H\xB29Di \"\\");
    EXPECT_EQ(view.FindValue(key, u"raw")->Text, u"ABC");
    EXPECT_EQ(view.FindValue(key, u"Blob")->Type, WineRegistryFile::Value::Kind::Other);
    EXPECT_FALSE(ReadRegistryExport(bytes, u"HKEY_CURRENT_USER", view, 0));
    EXPECT_FALSE(ReadRegistryExport(bytes.substr(2), u"HKEY_LOCAL_MACHINE", view, 0));

    // Imports: texts as hex(1) units (with the terminator only when asked), deletions marked.
    EXPECT_EQ(ImportTextLine(u"HKEY_CURRENT_USER", u"A", u"ID", u"\xD55C", true),
              u"[HKEY_CURRENT_USER\\A]\r\n\"ID\"=hex(1):5c,d5,00,00\r\n\r\n");
    EXPECT_EQ(ImportTextLine(u"HKEY_CURRENT_USER", u"A", u"", u"x", false),
              u"[HKEY_CURRENT_USER\\A]\r\n@=hex(1):78,00\r\n\r\n");
    EXPECT_EQ(ImportKeyLine(u"HKEY_LOCAL_MACHINE", u"A\\B", true),
              u"[-HKEY_LOCAL_MACHINE\\A\\B]\r\n\r\n");
    EXPECT_EQ(ImportDeleteValueLine(u"HKEY_LOCAL_MACHINE", u"A", u"n\"q"),
              u"[HKEY_LOCAL_MACHINE\\A]\r\n\"n\\\"q\"=-\r\n\r\n");
    EXPECT_EQ(RegistryImportBytes(u"").substr(0, 4), std::string("\xFF\xFEW\0", 4));
}

TEST(CodePageTest, Utf16ConversionsAreExactOrRefused) {
    EXPECT_EQ(DecodeToUtf16("\xC7\xD1"
                            "a",
                            "CP949"),
              std::u16string(u"\xD55C"
                             u"a"));
    std::size_t bad = 99;
    EXPECT_FALSE(DecodeToUtf16("ab\xFF", "CP949", &bad));
    EXPECT_EQ(bad, 2u);
    EXPECT_FALSE(DecodeToUtf16("ab\xC7", "CP949", &bad));  // cut in the middle of a character
    EXPECT_EQ(bad, 2u);
    EXPECT_EQ(EncodeFromUtf16(u"\xD55C"
                              u"a",
                              "CP949"),
              std::string("\xC7\xD1"
                          "a"));
    EXPECT_FALSE(EncodeFromUtf16(u"a\x0E01", "CP949", &bad));  // a Thai letter
    EXPECT_EQ(bad, 1u);
    EXPECT_EQ(EncodeFromUtf16(u"a\x20AC", "CP1252"), std::string("a\x80"));
    EXPECT_FALSE(DecodeToUtf16("a", "NO-SUCH-CODE-PAGE"));
}
