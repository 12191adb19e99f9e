#include "patch/TokenReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "patch/VersionNumber.h"
#include "support/TestSupport.h"

namespace {

struct Token {
    TokenKind Kind;
    std::string Text;
    bool operator==(const Token&) const = default;
};

std::vector<Token> Tokens(std::string text) {
    CTokenReader reader;
    reader.OpenTokenText(std::move(text));
    std::vector<Token> tokens;
    for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd;) {
        tokens.push_back({kind, reader.TokenText()});
        if (tokens.size() > 1000) break;
    }
    return tokens;
}

TEST(TokenReader, ReadsEveryKindOfToken) {
    const std::vector<Token> expected = {
        {TokenName, "Data\\Player"}, {TokenKey, "COMPRESSED"}, {TokenComma, ""},
        {TokenSemicolon, ""},        {TokenOpenBrace, ""},     {TokenCloseBrace, ""},
        {TokenDelete, ""},           {TokenName, "x_1.bmd"},   {TokenOther, ""},
        {TokenNumber, "-1.5"},
    };
    EXPECT_EQ(Tokens("\"Data\\Player\" #COMPRESSED# , ; { } @x_1.bmd * -1.5"), expected);
}

TEST(TokenReader, NumberSwallowsItsEndingCharacter) {
    CTokenReader reader;
    reader.OpenTokenText("12\"abc\"");
    ASSERT_EQ(reader.ReadToken(), TokenNumber);
    EXPECT_EQ(reader.TokenText(), "12");
    EXPECT_FLOAT_EQ(reader.TokenValue(), 12.0f);
    // The opening quote went with the number, so abc reads as an identifier and the closing
    // quote opens a quoted name that runs to the end.
    ASSERT_EQ(reader.ReadToken(), TokenName);
    EXPECT_EQ(reader.TokenText(), "abc");
    ASSERT_EQ(reader.ReadToken(), TokenName);
    EXPECT_EQ(reader.TokenText(), "");
    EXPECT_EQ(reader.ReadToken(), TokenEnd);
    EXPECT_EQ(reader.ReadToken(), TokenEnd);
}

TEST(TokenReader, NumberValueIsTheLeadingDecimal) {
    CTokenReader reader;
    reader.OpenTokenText("1.00.05 - .5 ");
    ASSERT_EQ(reader.ReadToken(), TokenNumber);
    EXPECT_FLOAT_EQ(reader.TokenValue(), 1.0f);
    ASSERT_EQ(reader.ReadToken(), TokenNumber);
    EXPECT_FLOAT_EQ(reader.TokenValue(), 0.0f);
    ASSERT_EQ(reader.ReadToken(), TokenNumber);
    EXPECT_FLOAT_EQ(reader.TokenValue(), 0.5f);
}

TEST(TokenReader, CommentsAndLoneSlashes) {
    // A comment on the last line without a line break ends at the end of the file.
    EXPECT_EQ(Tokens("\"a\" // note\n\"b\" // last"),
              (std::vector<Token>{{TokenName, "a"}, {TokenName, "b"}}));
    // A lone slash is dropped and the character after it stands.
    EXPECT_EQ(Tokens("/\"a\""), (std::vector<Token>{{TokenName, "a"}}));
    EXPECT_EQ(Tokens("/ x"), (std::vector<Token>{{TokenOther, ""}, {TokenName, "x"}}));
    EXPECT_TRUE(Tokens("//").empty());
    EXPECT_TRUE(Tokens("/").empty());
}

TEST(TokenReader, UnterminatedQuoteAndKeyRunToTheEnd) {
    EXPECT_EQ(Tokens("\"abc def"), (std::vector<Token>{{TokenName, "abc def"}}));
    EXPECT_EQ(Tokens("# KEY"), (std::vector<Token>{{TokenKey, " KEY"}}));
}

TEST(TokenReader, HighBytesAreOrdinaryCharacters) {
    // Bytes above 127 (code page text) neither end the file nor start a name.
    EXPECT_EQ(
        Tokens("\"\xC7\xD1\xFF\" \xFF x"),
        (std::vector<Token>{{TokenName, "\xC7\xD1\xFF"}, {TokenOther, ""}, {TokenName, "x"}}));
}

TEST(TokenReader, LongTokensAreCutAndFlagged) {
    CTokenReader reader;
    const std::string longName(5000, 'a');
    reader.OpenTokenText("\"" + longName + "\" x " + std::string(400, '7') + " " + longName);
    ASSERT_EQ(reader.ReadToken(), TokenName);
    EXPECT_EQ(reader.TokenText().size(), CTokenReader::kMaxTokenText);
    EXPECT_TRUE(reader.TokenTruncated());
    ASSERT_EQ(reader.ReadToken(), TokenName);  // the rest of the long token was consumed
    EXPECT_EQ(reader.TokenText(), "x");
    EXPECT_FALSE(reader.TokenTruncated());
    ASSERT_EQ(reader.ReadToken(), TokenNumber);
    EXPECT_TRUE(reader.TokenTruncated());
    EXPECT_TRUE(std::isinf(reader.TokenValue()));  // saturates, as atof into a float does
    ASSERT_EQ(reader.ReadToken(), TokenName);
    EXPECT_EQ(reader.TokenText().size(), CTokenReader::kMaxTokenText);
    EXPECT_EQ(reader.ReadToken(), TokenEnd);
}

TEST(TokenReader, NothingOpenReadsAsEnd) {
    CTokenReader reader;
    EXPECT_EQ(reader.ReadToken(), TokenEnd);
    EXPECT_FALSE(reader.OpenTokenFile("/nonexistent/list.inf"));
    EXPECT_EQ(reader.ReadToken(), TokenEnd);
}

TEST(TokenReader, AFileIsReadInPiecesExactlyAsItsText) {
    // Tokens of every kind, long and cut ones too, laid so that many of them (and the
    // character a number swallows, and the one a name gives back) straddle the file's
    // 64 KiB pieces.
    const std::vector<std::string> parts = {"\"Data\\Player\" ",
                                            "#COMPRESSED# ",
                                            "12.5-",
                                            "7 ",
                                            "name_1.bmd",
                                            ",",
                                            "@x ",
                                            "// note\n",
                                            "/",
                                            "{",
                                            "}",
                                            ";",
                                            std::string(300, 'L') + " ",
                                            "\"open quote",
                                            "\" ",
                                            "\xe4\xb8\x80 ",
                                            "ab",
                                            "9",
                                            "\n"};
    std::string text;
    for (std::size_t i = 0; text.size() < 3 * 65536 + 777; i = (i * 7 + 3) % parts.size())
        text += parts[i];
    testsupport::TempDir dir;
    const auto file = dir / "list.inf";
    testsupport::WriteFile(file, text);

    CTokenReader fromText;
    fromText.OpenTokenText(text);
    CTokenReader fromFile;
    ASSERT_TRUE(fromFile.OpenTokenFile(file));
    std::size_t count = 0;
    for (;;) {
        const TokenKind expected = fromText.ReadToken();
        ASSERT_EQ(fromFile.ReadToken(), expected) << "token " << count;
        ASSERT_EQ(fromFile.TokenText(), fromText.TokenText()) << "token " << count;
        ASSERT_EQ(fromFile.TokenTruncated(), fromText.TokenTruncated()) << "token " << count;
        if (expected == TokenEnd) break;
        ++count;
    }
    EXPECT_GT(count, 10000u);
    EXPECT_FALSE(fromFile.ReadFailed());
    EXPECT_EQ(fromFile.ReadToken(), TokenEnd);

    // Too large to be a list, or not a file: nothing opens.
    testsupport::WriteFile(file, std::string(CTokenReader::kMaxFileSize + 1, 'a'));
    EXPECT_FALSE(fromFile.OpenTokenFile(file));
    EXPECT_FALSE(fromFile.OpenTokenFile(dir.Path()));
    EXPECT_EQ(fromFile.ReadToken(), TokenEnd);
}

TEST(VersionNumber, ParsesLikeStrtokAndAtoi) {
    EXPECT_EQ(VersionNumber::Parse("1.04.05"), (VersionNumber{1, 4, 5}));
    EXPECT_EQ(VersionNumber::Parse("1.2"), (VersionNumber{1, 2, 0}));
    EXPECT_EQ(VersionNumber::Parse(""), (VersionNumber{0, 0, 0}));
    EXPECT_EQ(VersionNumber::Parse("..3...4.5.6"), (VersionNumber{3, 4, 5}));
    EXPECT_EQ(VersionNumber::Parse("300.x7.9z"), (VersionNumber{44, 0, 9}));
    EXPECT_EQ(VersionNumber::Parse("255.255.2"), (VersionNumber{255, 255, 2}));
}

TEST(VersionNumber, TextFormsAndPackedOrder) {
    const VersionNumber v{1, 4, 5};
    EXPECT_EQ(v.ConfigText(), "1.04.05");
    EXPECT_EQ(v.LogText(), "1.4.5");
    EXPECT_EQ((VersionNumber{255, 255, 255}).ConfigText(), "255.255.255");
    EXPECT_EQ(v.Packed(), 0x010405);
    EXPECT_LT((VersionNumber{1, 255, 255}).Packed(), (VersionNumber{2, 0, 0}).Packed());
    EXPECT_EQ(VersionNumber::FromPacked(v.Packed()), v);
}

}  // namespace
