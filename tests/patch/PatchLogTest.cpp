#include "patch/PatchLog.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "patch/PatchEngine.h"
#include "patch/RecordingPatchHost.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(PatchLog, AppendsLinesInTheLogFormat) {
    TempDir dir;
    PatchLog log(dir / "patch.log");
    EXPECT_FALSE(log.Exists());
    ASSERT_TRUE(log.AppendLogLine('V', "1.0.2"));
    ASSERT_TRUE(log.AppendLogLine('F', "Data\\Player\\x.bmd"));
    EXPECT_EQ(ReadFile(dir / "patch.log"), "V 1.0.2\nF Data\\Player\\x.bmd\n");
    EXPECT_TRUE(log.IsFileLogged("data\\player\\X.BMD"));
    EXPECT_FALSE(log.IsFileLogged("Data\\Player"));
    EXPECT_FALSE(log.IsFileLogged("1.0.2"));  // V lines are not files
}

TEST(PatchLog, LineBreaksCannotForgeRecords) {
    TempDir dir;
    PatchLog log(dir / "patch.log");
    EXPECT_FALSE(log.AppendLogLine('F', "a.bmd\nF config.ini"));
    EXPECT_FALSE(log.AppendLogLine('F', "a.bmd\rV 9.9.9"));
    EXPECT_FALSE(log.Exists());
}

// A batch is all or nothing: one forged name refuses the whole batch, and the lines of an
// accepted one are answered from at once, after a log without a final line break too.
TEST(PatchLog, BatchesAreWrittenWholeOrNotAtAll) {
    TempDir dir;
    PatchLog log(dir / "patch.log");
    ASSERT_TRUE(log.AppendLogLine('V', "1.0.2"));
    const std::vector<std::string_view> forged = {"a.bmd", "b.bmd\nF config.ini", "c.bmd"};
    EXPECT_FALSE(log.AppendLogLines('F', forged));
    EXPECT_EQ(ReadFile(dir / "patch.log"), "V 1.0.2\n");
    EXPECT_FALSE(log.IsFileLogged("a.bmd"));

    const std::vector<std::string_view> batch = {"a.bmd", "Data\\b.bmd", "c d.bmd"};
    ASSERT_TRUE(log.AppendLogLines('F', batch));
    EXPECT_EQ(ReadFile(dir / "patch.log"), "V 1.0.2\nF a.bmd\nF Data\\b.bmd\nF c d.bmd\n");
    for (const std::string_view name : {"A.BMD", "data\\B.bmd", "c d.bmd"})
        EXPECT_TRUE(log.IsFileLogged(name)) << name;

    WriteFile(dir / "patch.log", "V 1.0.2\nF x.bmd");  // cut by hand
    ASSERT_TRUE(log.AppendLogLines('F', batch));
    EXPECT_EQ(ReadFile(dir / "patch.log"), "V 1.0.2\nF x.bmd\nF a.bmd\nF Data\\b.bmd\nF c d.bmd\n");
    EXPECT_TRUE(log.IsFileLogged("x.bmd"));
    EXPECT_TRUE(log.IsFileLogged("c d.bmd"));
}

TEST(PatchLog, NamesWithBlanksSurviveTheRoundTrip) {
    TempDir dir;
    PatchLog log(dir / "patch.log");
    ASSERT_TRUE(log.AppendLogLine('V', "1.0.2"));
    ASSERT_TRUE(log.AppendLogLine('F', "Data\\my map.att"));
    ASSERT_TRUE(log.AppendLogLine('F', "b.txt"));
    EXPECT_TRUE(log.IsFileLogged("Data\\my map.att"));
    EXPECT_FALSE(log.IsFileLogged("Data\\my"));
    EXPECT_FALSE(log.IsFileLogged("map.att"));
    EXPECT_TRUE(log.IsFileLogged("b.txt"));
}

TEST(PatchLog, ReadsLogsOfOtherWritersAndIgnoresOtherKinds) {
    TempDir dir;
    WriteFile(dir / "patch.log", "X junk\r\nV  1.0.3 \r\n\nF a.txt\r\nV 2.0.0\nF b.txt");
    PatchLog log(dir / "patch.log");
    EXPECT_TRUE(log.IsFileLogged("a.txt"));
    EXPECT_TRUE(log.IsFileLogged("B.TXT"));
    EXPECT_FALSE(log.IsLoggedVersionDifferent(0x010003));  // the first V line counts
    EXPECT_TRUE(log.IsLoggedVersionDifferent(0x020000));
    ASSERT_TRUE(log.AppendLogLine('F', "c.txt"));  // a last line without a break is kept whole
    EXPECT_TRUE(log.IsFileLogged("b.txt"));
    EXPECT_TRUE(log.IsFileLogged("c.txt"));
}

// Answers are kept between queries; they follow the file when it is replaced, removed or
// started again, and include this object's own appends.
TEST(PatchLog, AnswersFollowTheFile) {
    TempDir dir;
    PatchLog log(dir / "patch.log");
    ASSERT_TRUE(log.AppendLogLine('V', "1.0.2"));
    ASSERT_TRUE(log.AppendLogLine('F', "a.txt"));
    EXPECT_TRUE(log.IsFileLogged("a.txt"));
    ASSERT_TRUE(log.AppendLogLine('F', "b.txt"));
    EXPECT_TRUE(log.IsFileLogged("B.txt"));
    WriteFile(dir / "patch.log", "V 1.0.3\nF other.txt\n");
    EXPECT_FALSE(log.IsFileLogged("a.txt"));
    EXPECT_TRUE(log.IsFileLogged("other.txt"));
    EXPECT_TRUE(log.IsLoggedVersionDifferent(0x010002));
    ASSERT_TRUE(log.Remove());
    EXPECT_FALSE(log.IsFileLogged("other.txt"));
    ASSERT_TRUE(log.AppendLogLine('V', "1.0.2"));
    EXPECT_FALSE(log.IsLoggedVersionDifferent(0x010002));
    EXPECT_FALSE(log.IsFileLogged("other.txt"));
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(log.AppendLogLine('F', "f" + std::to_string(i)));
    EXPECT_TRUE(log.IsFileLogged("F4999"));
    EXPECT_FALSE(log.IsFileLogged("f5000"));
    EXPECT_EQ(log.ReadLines()->size(), 5001u);
}

// The answers keep one directory's files at a time: going from directory to directory, back
// again, to the game directory itself, and after appends to the directory asked about or to
// another, every answer must still be the file's.
TEST(PatchLog, AnswersHoldAcrossDirectories) {
    TempDir dir;
    WriteFile(dir / "patch.log",
              "V 1.0.2\nF Data\\a.bmd\nF Sound\\b.wav\nF Data\\c.bmd\nF top.txt\n"
              "F Data\\Deep\\d.bmd\nF data/e.bmd\n");
    PatchLog log(dir / "patch.log");
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(log.IsFileLogged("DATA\\A.BMD"));
        EXPECT_TRUE(log.IsFileLogged("sound\\b.wav"));
        EXPECT_TRUE(log.IsFileLogged("Data\\c.bmd"));  // after the other directory's line
        EXPECT_FALSE(log.IsFileLogged("Data\\b.wav"));
        EXPECT_TRUE(log.IsFileLogged("TOP.txt"));
        EXPECT_FALSE(log.IsFileLogged("a.bmd"));
        EXPECT_TRUE(log.IsFileLogged("data\\deep\\D.bmd"));
        EXPECT_FALSE(log.IsFileLogged("Data\\d.bmd"));
        EXPECT_TRUE(log.IsFileLogged("DATA/E.BMD"));
        EXPECT_FALSE(log.IsFileLogged("Missing\\a.bmd"));
    }
    ASSERT_TRUE(log.IsFileLogged("Data\\a.bmd"));
    const std::vector<std::string_view> batch = {"Data\\new.bmd", "Sound\\new.wav", "Other\\x.bmd"};
    ASSERT_TRUE(log.AppendLogLines('F', batch));
    EXPECT_TRUE(log.IsFileLogged("data\\NEW.bmd"));
    EXPECT_TRUE(log.IsFileLogged("Other\\x.bmd"));
    EXPECT_TRUE(log.IsFileLogged("Sound\\new.wav"));
    EXPECT_TRUE(log.IsFileLogged("Sound\\b.wav"));
    EXPECT_TRUE(log.IsFileLogged("Data\\c.bmd"));
    // A second object (another run) reads the same answers from the file.
    PatchLog again(dir / "patch.log");
    for (const char* name : {"Other\\x.bmd", "Data\\new.bmd", "Sound\\b.wav", "top.txt"})
        EXPECT_TRUE(again.IsFileLogged(name)) << name;
}

// The log is read in pieces: lines across the pieces' borders, a line longer than a piece
// and a last line without its break come out whole, as when the log was read at once.
TEST(PatchLog, LinesSurviveReadingInPieces) {
    TempDir dir;
    std::string text = "V 1.0.2\r\n";
    std::vector<std::string> names;
    for (int i = 0; text.size() < 300000; ++i) {
        names.push_back("Data" + std::to_string(i % 7) + "\\file" + std::to_string(i) + ".bmd");
        text += "F " + names.back() + (i % 3 == 0 ? "\r\n" : "\n");
        if (i == 5000) {
            names.push_back("Long\\" + std::string(100000, 'x'));
            text += "F " + names.back() + "\n\n";
        }
    }
    names.push_back("last.txt");
    text += "F last.txt";
    WriteFile(dir / "patch.log", text);
    PatchLog log(dir / "patch.log");
    const auto lines = log.ReadLines();
    ASSERT_TRUE(lines.has_value());
    ASSERT_EQ(lines->size(), names.size() + 1);
    EXPECT_EQ((*lines)[0].Kind, 'V');
    EXPECT_EQ((*lines)[0].Text, "1.0.2");
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ((*lines)[i + 1].Kind, 'F');
        ASSERT_EQ((*lines)[i + 1].Text, names[i]) << i;
        ASSERT_TRUE(log.IsFileLogged(names[i])) << i;
    }
    int visited = 0;
    EXPECT_TRUE(log.ForEachLine([&visited](const PatchLogLine&) { return ++visited < 3; }));
    EXPECT_EQ(visited, 3);
    EXPECT_FALSE(PatchLog(dir / "none.log").ForEachLine([](const PatchLogLine&) { return true; }));
}

TEST(PatchLog, VersionDecisions) {
    TempDir dir;
    PatchLog log(dir / "patch.log");
    EXPECT_FALSE(log.IsLoggedVersionDifferent(0x010002));  // no log: not different
    WriteFile(dir / "patch.log", "F a.txt\n");
    EXPECT_TRUE(log.IsLoggedVersionDifferent(0x010002));  // no V line reads as 0.0.0
    EXPECT_FALSE(log.IsLoggedVersionDifferent(0));
}

TEST(PatchLog, EngineStartsTheLogForTheTargetVersion) {
    TempDir dir;
    RecordingPatchHost host;
    PatchEngine engine(host, GamePath(dir.Path()));
    engine.TargetVersion = 0x010002;
    ASSERT_TRUE(engine.AppendVersionLine());
    ASSERT_TRUE(engine.AppendLogLine('F', "Data\\x.bmd"));
    EXPECT_FALSE(engine.IsLoggedVersionDifferent());
    EXPECT_TRUE(engine.IsFileLogged("Data\\x.bmd"));
    // The same log while 1.0.3 is applied is stale.
    engine.TargetVersion = 0x010003;
    EXPECT_TRUE(engine.IsLoggedVersionDifferent());
    EXPECT_EQ(ReadFile(dir / "patch.log"), "V 1.0.2\nF Data\\x.bmd\n");
}

}  // namespace
