// The run log: time-stamped lines appended across runs, one rotation past the cap, failures
// shown once on the failure stream, and a log that cannot be written costing nothing.

#include <gtest/gtest.h>

#include <regex>

#include "platform/EventLog.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;

TEST(EventLogTest, AppendsStampedLinesAndRotatesOncePastTheCap) {
    testsupport::TempDir dir;
    const auto file = dir / "state" / "torvane" / "torvane.log";
    {
        EventLog log(file, 300);
        log.Write("first\nline");  // one event, one line
    }
    {
        EventLog log(file, 300);  // a second run appends
        log.Write("second");
    }
    const std::string both = ReadFile(file);
    EXPECT_TRUE(std::regex_match(
        both, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] first line\n)"
                         R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] second\n)")))
        << both;

    EventLog log(file, 300);
    for (int i = 0; i < 20; ++i) log.Write("event " + std::to_string(i));
    // Never more than the cap in the file, one older file beside it, nothing lost in between.
    EXPECT_LE(ReadFile(file).size(), 300u);
    const std::string older = ReadFile(file.string() + ".1");
    EXPECT_FALSE(older.empty());
    EXPECT_NE(ReadFile(file).find("event 19"), std::string::npos);
    EXPECT_EQ(testsupport::ListTree(dir / "state").size(), 2u);
}

TEST(EventLogTest, FailuresAreShownOnceAndALogThatCannotBeWrittenCostsNothing) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "file", "x");
    EventLog log(dir / "file" / "torvane.log");  // its folder cannot be made
    EXPECT_NE(log.Problem().find("file/torvane.log"), std::string::npos) << log.Problem();
    std::FILE* shown = std::tmpfile();
    log.ShowFailuresOn(shown, "torvane-cli");
    log.Fail("cannot connect: refused");
    log.Fail("cannot connect: refused");  // a retry every second is shown once
    log.Write("not an error");
    std::fflush(shown);
    std::rewind(shown);
    char text[256] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, shown);
    std::fclose(shown);
    EXPECT_EQ(std::string(text, n), "torvane-cli: cannot connect: refused\n");
}

}  // namespace
