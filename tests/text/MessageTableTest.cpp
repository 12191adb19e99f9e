#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "text/MessageTable.h"
#include "text/MessageTableWriter.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

struct Box {
    std::string Text;
    std::string Caption;
};

// A table whose loader boxes are recorded.
struct LoadedTable {
    CMessageTable Table;
    std::vector<Box> Boxes;
    LoadedTable() {
        Table.SetMessageBoxFunction(
            [this](const std::string& text, const std::string& caption, MessageBoxIcon) {
                Boxes.push_back({text, caption});
            });
    }
    void LoadBytes(const std::string& bytes) {
        TempDir dir;
        WriteFile(dir / "message.wtf", bytes);
        Table.Load((dir / "message.wtf").string());
    }
};

std::string Header(int count, unsigned char magic = 0xCC, unsigned char version = 1) {
    std::string out;
    out.push_back(static_cast<char>(magic));
    out.push_back(static_cast<char>(version));
    out.append(22, '\0');
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
    return out;
}

// One record as stored; `text` is plain and gets the key applied here.
std::string Record(int number, const std::string& text, int lengthField = -1) {
    const int length = lengthField == -1 ? static_cast<int>(text.size()) : lengthField;
    std::string out;
    out.push_back(static_cast<char>(number & 0xFF));
    out.push_back(static_cast<char>((number >> 8) & 0xFF));
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>((length >> 8) & 0xFF));
    for (char c : text) out.push_back(static_cast<char>(c ^ 0x9E));
    return out;
}

const std::string kNotTextCode =
    "TextCode \xb5\xa5\xc0\xcc\xc5\xcd\xb0\xa1 \xbe\xc6\xb4\xd5\xb4\xcf\xb4\xd9.";
const std::string kIndexError = "message index table make error!!";

TEST(MessageTable, MissingFileShowsNameAndKeepsDefault) {
    LoadedTable t;
    TempDir dir;
    t.Table.Load((dir / "message.wtf").string());
    ASSERT_EQ(t.Boxes.size(), 1u);
    EXPECT_EQ(t.Boxes[0].Caption, "Error");
    EXPECT_EQ(t.Boxes[0].Text, (dir / "message.wtf").string() +
                                   " \xc6\xc4\xc0\xcf\xc0\xcc \xc1\xb8\xc0\xe7\xc7\xcf\xc1\xf6 "
                                   "\xbe\xca\xbd\xc0\xb4\xcf\xb4\xd9.");
    EXPECT_STREQ(t.Table.GetText(13), "Msg error");
    EXPECT_STREQ(t.Table.GetText(-1), "Msg error");
}

TEST(MessageTable, BadHeadersLeaveEmptyTable) {
    struct Case {
        std::string Bytes;
        std::string Message;
    };
    const std::vector<Case> cases = {
        {"", kNotTextCode},
        {Header(1, 0xCD) + Record(1, "a"), kNotTextCode},
        {Header(1, 0xCC, 2) + Record(1, "a"),
         "\xc1\xf6\xbf\xf8\xc7\xcf\xc1\xf6 \xbe\xca\xb4\xc2 \xb9\xf6\xc1\xaf \xb5\xa5\xc0\xcc\xc5"
         "\xcd \xc0\xd4\xb4\xcf\xb4\xd9."},
        {std::string("\xCC\x01", 2),
         "\xc0\xd0\xb4\xc2\xc1\xdf \xb5\xa5\xc0\xcc\xc5\xcd\xc0\xc7 \xb0\xb3\xbc\xf6 \xbf\xa1\xb7"
         "\xaf \xc0\xd4\xb4\xcf\xb4\xd9."},
        {Header(-3) + Record(1, "a"),
         "\xc0\xd0\xb4\xc2\xc1\xdf \xb5\xa5\xc0\xcc\xc5\xcd\xc0\xc7 \xb0\xb3\xbc\xf6 \xbf\xa1\xb7"
         "\xaf \xc0\xd4\xb4\xcf\xb4\xd9."},
    };
    for (const Case& c : cases) {
        LoadedTable t;
        t.LoadBytes(c.Bytes);
        ASSERT_EQ(t.Boxes.size(), 1u);
        EXPECT_EQ(t.Boxes[0].Text, c.Message);
        EXPECT_EQ(t.Boxes[0].Caption, "Error");
        EXPECT_STREQ(t.Table.GetText(1), "Msg error");
        EXPECT_EQ(t.Table.FirstRecord(), nullptr);
    }
}

TEST(MessageTable, IndexedNumbersLaterRecordWins) {
    LoadedTable t;
    t.LoadBytes(Header(4) + Record(13, "first") + Record(120, "old") + Record(120, "new") +
                Record(0, "zero"));
    EXPECT_TRUE(t.Boxes.empty());
    EXPECT_STREQ(t.Table.GetText(120), "new");
    EXPECT_STREQ(t.Table.GetText(0), "zero");
    // A number the file lacks gives the first stored text.
    EXPECT_STREQ(t.Table.GetText(2000), "first");
    EXPECT_STREQ(t.Table.GetText(-7), "first");
    EXPECT_STREQ(t.Table.GetText(40000), "first");
}

TEST(MessageTable, NumbersOutsideIndexUseListWalkFirstWins) {
    LoadedTable t;
    t.LoadBytes(Header(4) + Record(1, "one") + Record(-5, "early") + Record(-5, "late") +
                Record(32767, "top"));
    ASSERT_EQ(t.Boxes.size(), 3u);
    for (const Box& b : t.Boxes) EXPECT_EQ(b.Text, kIndexError);
    EXPECT_STREQ(t.Table.GetText(-5), "early");
    EXPECT_STREQ(t.Table.GetText(32767), "top");
    // Every record stays in file order.
    std::vector<int> order;
    for (const MessageNode* n = t.Table.FirstRecord(); n; n = n->Next) order.push_back(n->Number);
    EXPECT_EQ(order, (std::vector<int>{1, -5, -5, 32767}));
}

TEST(MessageTable, EmptyAndCutTexts) {
    LoadedTable t;
    // Record 5 is empty, record 6 starts with a byte that decodes to NUL, record 7 has one in
    // the middle.
    t.LoadBytes(Header(4) + Record(4, "four") + Record(5, "") + Record(6, std::string("\0x", 2)) +
                Record(7, std::string("ab\0cd", 5)));
    EXPECT_STREQ(t.Table.GetText(5), "four");
    EXPECT_STREQ(t.Table.GetText(6), "four");
    EXPECT_STREQ(t.Table.GetText(7), "ab");
}

TEST(MessageTable, OnlyEmptyRecordsYieldDefault) {
    LoadedTable t;
    t.LoadBytes(Header(2) + Record(5, "") + Record(6, ""));
    EXPECT_STREQ(t.Table.GetText(5), "Msg error");
}

TEST(MessageTable, MalformedRecordsAreBounded) {
    {
        // Too long for the record buffer: dropped, its neighbours survive.
        LoadedTable t;
        t.LoadBytes(Header(3) + Record(1, "a") + Record(2, std::string(300, 'x')) + Record(3, "c"));
        EXPECT_STREQ(t.Table.GetText(3), "c");
        EXPECT_STREQ(t.Table.GetText(2), "a");
    }
    {
        // Longest allowed text.
        LoadedTable t;
        t.LoadBytes(Header(1) + Record(9, std::string(255, 'y')));
        EXPECT_EQ(std::string(t.Table.GetText(9)), std::string(255, 'y'));
    }
    {
        // A negative length stops the load; earlier records are kept.
        LoadedTable t;
        t.LoadBytes(Header(3) + Record(1, "a") + Record(2, "bb", -2) + Record(3, "c"));
        EXPECT_STREQ(t.Table.GetText(1), "a");
        EXPECT_STREQ(t.Table.GetText(3), "a");
    }
    {
        // The file ends early, also inside a record: what was read completely stays.
        LoadedTable t;
        std::string bytes = Header(1000) + Record(1, "a") + Record(2, "bbbb");
        bytes.resize(bytes.size() - 2);
        t.LoadBytes(bytes);
        EXPECT_STREQ(t.Table.GetText(1), "a");
        EXPECT_STREQ(t.Table.GetText(2), "a");
        EXPECT_TRUE(t.Boxes.empty());
    }
}

TEST(MessageTable, ReloadReplacesEarlierTable) {
    LoadedTable t;
    t.LoadBytes(Header(1) + Record(10, "ten"));
    t.LoadBytes(Header(1) + Record(11, "eleven"));
    EXPECT_STREQ(t.Table.GetText(11), "eleven");
    EXPECT_STREQ(t.Table.GetText(10), "eleven");
}

TEST(MessageTableWriter, RoundTripsThroughLoader) {
    CMessageTableWriter writer;
    EXPECT_TRUE(writer.Add(13, "thirteen"));
    EXPECT_TRUE(writer.Add(-32768, "low"));
    EXPECT_TRUE(writer.Add(2000, std::string("\x9e\xff\x80", 3)));
    EXPECT_FALSE(writer.Add(40000, "too big"));
    EXPECT_FALSE(writer.Add(1, ""));
    EXPECT_FALSE(writer.Add(1, std::string(256, 'z')));
    EXPECT_FALSE(writer.Add(1, std::string("a\0b", 3)));
    LoadedTable t;
    t.LoadBytes(writer.Serialize());
    EXPECT_STREQ(t.Table.GetText(13), "thirteen");
    EXPECT_STREQ(t.Table.GetText(-32768), "low");
    EXPECT_STREQ(t.Table.GetText(2000), "\x9e\xff\x80");
}

}  // namespace
