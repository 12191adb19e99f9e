// The download sink: a file takes its target's name only when every validator passed, and a
// refused or abandoned download leaves the target as it was and nothing beside it.

#include <gtest/gtest.h>

#include "platform/DownloadSink.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class DownloadSinkTest : public ::testing::Test {
protected:
    fs::path Target() const { return dir_ / "list.inf"; }
    // Runs a download of `data` in small pieces; true when it committed.
    bool Land(DownloadSink& sink, const std::string& data) {
        if (!sink.Open()) return false;
        for (std::size_t at = 0; at < data.size(); at += 7) {
            if (!sink.Write(data.data() + at, std::min<std::size_t>(7, data.size() - at)))
                return false;
        }
        return sink.Commit();
    }
    testsupport::TempDir dir_;
};

TEST_F(DownloadSinkTest, CommitsOnlyWhenEveryValidatorPasses) {
    const std::string data = "#PACKINGVERSION#\n\"a.bmd\"\n@ \"old.bmd\"\n";
    WriteFile(Target(), "the old list");
    struct Case {
        const char* What;
        DownloadExpectation Expect;
        bool Lands;
    } cases[] = {
        {"all match", {data.size(), std::nullopt, Sha256Of(data)}, true},
        {"cut short", {data.size() + 10, std::nullopt, std::nullopt}, false},
        {"too long", {data.size() - 1, std::nullopt, std::nullopt}, false},
        {"over the limit", {std::nullopt, data.size() - 1, std::nullopt}, false},
        {"within the limit", {std::nullopt, data.size(), std::nullopt}, true},
        {"another file's hash", {data.size(), std::nullopt, Sha256Of("x")}, false},
    };
    for (const auto& c : cases) {
        WriteFile(Target(), "the old list");
        DownloadSink sink(Target());
        sink.Expect(c.Expect);
        EXPECT_EQ(Land(sink, data), c.Lands) << c.What;
        EXPECT_EQ(ReadFile(Target()), c.Lands ? data : "the old list") << c.What;
        EXPECT_EQ(sink.Refused(), !c.Lands) << c.What;
        if (!c.Lands) {
            EXPECT_NE(sink.Failure().find("list.inf"), std::string::npos) << sink.Failure();
        }
        EXPECT_EQ(testsupport::ListTree(dir_.Path()).size(), 1u) << c.What;
    }
}

TEST_F(DownloadSinkTest, AnEndlessStreamIsRefusedAtTheLimitNotAtItsEnd) {
    DownloadSink sink(Target());
    sink.AddValidator(SizeLimit(100));
    ASSERT_TRUE(sink.Open());
    const std::string block(40, 'x');
    EXPECT_TRUE(sink.Write(block.data(), block.size()));
    EXPECT_TRUE(sink.Write(block.data(), block.size()));
    EXPECT_FALSE(sink.Write(block.data(), block.size()));
    EXPECT_EQ(sink.BytesWritten(), 80u);
    EXPECT_TRUE(sink.Refused());
    sink.Abandon();
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_TRUE(testsupport::ListTree(dir_.Path()).empty());
}

TEST_F(DownloadSinkTest, CrcIsCheckedAndADroppedSinkLeavesNothing) {
    {
        DownloadSink sink(Target());
        sink.AddValidator(ExpectedCrc32(0xCBF43926u));  // CRC-32 of "123456789"
        EXPECT_TRUE(Land(sink, "123456789"));
    }
    {
        DownloadSink sink(Target());
        sink.AddValidator(ExpectedCrc32(0xCBF43926u));
        EXPECT_FALSE(Land(sink, "123456780"));
        EXPECT_NE(sink.Failure().find("CRC-32"), std::string::npos) << sink.Failure();
    }
    {
        DownloadSink sink(dir_ / "other");
        ASSERT_TRUE(sink.Open());
        sink.Write("abc", 3);
    }  // never committed
    EXPECT_EQ(testsupport::ListTree(dir_.Path()), std::vector<std::string>{"list.inf"});
    EXPECT_EQ(ReadFile(Target()), "123456789");
}

}  // namespace
