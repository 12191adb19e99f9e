// The download sink: a file takes its target's name only when every validator passed, and a
// refused or abandoned download leaves the target as it was and nothing beside it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// An interrupted download keeps its bytes and record; the next sink finds them only for the
// same source, continues after them, and its checks cover the kept bytes too.
TEST_F(DownloadSinkTest, KeptBytesAreResumedAndCheckedWithTheRest) {
    std::string data(300000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + i / 977);
    const fs::path target = dir_ / "up_list.zip";
    const ResumeRecord record{"http://host/1.00.01/up_list.zip", data.size(), "\"5f-1a\""};
    const std::size_t half = data.size() / 2;
    auto interruptHalfWay = [&] {
        DownloadSink sink(target, ".part");
        ASSERT_TRUE(sink.Open());
        ASSERT_TRUE(sink.KeepForResume(record));
        ASSERT_TRUE(sink.Write(data.data(), half));
        sink.Interrupt();
    };
    interruptHalfWay();
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(ReadFile(dir_ / "up_list.zip.part"), data.substr(0, half));

    DownloadSink look(target, ".part");
    EXPECT_FALSE(look.FindPartial("http://host/1.00.02/up_list.zip"));
    const auto partial = look.FindPartial(record.Source);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->Bytes, half);
    EXPECT_TRUE(partial->Record == record);

    // Resumed from fewer bytes than were kept (a file grown by a lost write): cut there.
    {
        DownloadSink sink(target, ".part");
        sink.Expect({data.size(), std::nullopt, Sha256Of(data)});
        ASSERT_TRUE(sink.OpenResuming(half - 1000));
        EXPECT_EQ(sink.BytesWritten(), half - 1000);
        ASSERT_TRUE(sink.Write(data.data() + half - 1000, data.size() - half + 1000));
        ASSERT_TRUE(sink.Commit()) << sink.Failure();
    }
    EXPECT_TRUE(ReadFile(target) == data);
    EXPECT_EQ(testsupport::ListTree(dir_.Path()), std::vector<std::string>{"up_list.zip"});

    // A kept byte gone bad fails the hash over the whole file: nothing of it is left.
    fs::remove(target);
    interruptHalfWay();
    {
        std::string spoiled = data.substr(0, half);
        spoiled[10] ^= 1;
        WriteFile(dir_ / "up_list.zip.part", spoiled);
        DownloadSink sink(target, ".part");
        sink.Expect({data.size(), std::nullopt, Sha256Of(data)});
        ASSERT_TRUE(sink.OpenResuming(half));
        ASSERT_TRUE(sink.Write(data.data() + half, data.size() - half));
        EXPECT_FALSE(sink.Commit());
        EXPECT_NE(sink.Failure().find("SHA-256"), std::string::npos) << sink.Failure();
    }
    EXPECT_TRUE(testsupport::ListTree(dir_.Path()).empty());

    // Kept bytes a validator refuses at once (more than the file may hold) are dropped.
    interruptHalfWay();
    {
        DownloadSink sink(target, ".part");
        sink.Expect({std::nullopt, half - 1, std::nullopt});
        EXPECT_FALSE(sink.OpenResuming(half));
    }
    EXPECT_TRUE(testsupport::ListTree(dir_.Path()).empty());

    // A fresh start drops what was kept; a refused write and a record without a version
    // mark keep nothing.
    interruptHalfWay();
    {
        DownloadSink sink(target, ".part");
        ASSERT_TRUE(sink.Open());
        EXPECT_FALSE(fs::exists(sink.RecordPath()));
        EXPECT_EQ(fs::file_size(dir_ / "up_list.zip.part"), 0u);
        EXPECT_FALSE(sink.KeepForResume(ResumeRecord{record.Source, data.size(), ""}));
        ASSERT_TRUE(sink.Write(data.data(), 100));
        sink.Interrupt();
    }
    EXPECT_TRUE(testsupport::ListTree(dir_.Path()).empty());
    {
        DownloadSink sink(target, ".part");
        sink.AddValidator(ExactSize(50));
        ASSERT_TRUE(sink.Open());
        ASSERT_TRUE(sink.KeepForResume(record));
        EXPECT_FALSE(sink.Write(data.data(), 100));
        sink.Interrupt();
    }
    EXPECT_TRUE(testsupport::ListTree(dir_.Path()).empty());
}

// A record that is not ours (unreadable size, another source, the bytes gone) finds nothing.
TEST_F(DownloadSinkTest, ABrokenRecordFindsNoPartialDownload) {
    const fs::path target = dir_ / "a.bin";
    DownloadSink sink(target, ".part");
    WriteFile(dir_ / "a.bin.part", "0123456789");
    for (const char* text : {"source=s\nsize=x\nversion=v\n", "source=s\nversion=v\n",
                             "source=s\nsize=10\nversion=\n", "garbage\n"}) {
        WriteFile(sink.RecordPath(), text);
        EXPECT_FALSE(sink.FindPartial("s")) << text;
    }
    WriteFile(sink.RecordPath(), "source=s\nsize=10\nversion=v\n");
    ASSERT_TRUE(sink.FindPartial("s"));
    EXPECT_EQ(sink.FindPartial("s")->Bytes, 10u);
    fs::remove(dir_ / "a.bin.part");
    EXPECT_FALSE(sink.FindPartial("s"));
    fs::create_symlink(dir_ / "elsewhere", dir_ / "a.bin.part");
    EXPECT_FALSE(sink.FindPartial("s"));
}

TEST_F(DownloadSinkTest, ANamedTemporaryIsCreatedAnewAndCommittedLikeAnyOther) {
    const fs::path chosen = dir_ / ".list.inf.tmp1.0";
    WriteFile(Target(), "old");
    {
        DownloadSink sink(Target());
        sink.SetTemporaryPath(chosen);
        ASSERT_TRUE(sink.Open());
        EXPECT_TRUE(fs::exists(chosen));
        ASSERT_TRUE(sink.Write("new", 3));
        ASSERT_TRUE(sink.Commit());
    }
    EXPECT_EQ(ReadFile(Target()), "new");
    EXPECT_EQ(testsupport::ListTree(dir_.Path()), std::vector<std::string>{"list.inf"});

    // Someone else's file under that name is neither truncated nor taken over.
    WriteFile(chosen, "not ours");
    DownloadSink sink(Target());
    sink.SetTemporaryPath(chosen);
    EXPECT_FALSE(sink.Open());
    EXPECT_NE(sink.Failure().find(chosen.string()), std::string::npos) << sink.Failure();
    EXPECT_EQ(ReadFile(chosen), "not ours");
    EXPECT_EQ(ReadFile(Target()), "new");
}

// An unpacked file gets its packed time and permission bits through the open file: the time
// stands although the last bytes reach the file at the commit, and a read-only file is still
// written whole.
TEST_F(DownloadSinkTest, ChosenTimeAndModeAreTheCommittedFilesOwn) {
    const std::string data(3 << 20, 'r');  // beyond the write buffer: written before and at commit
    DownloadSink sink(Target());
    sink.SetMode(0444);
    sink.SetModificationTime(1577934246);
    ASSERT_TRUE(sink.Open());
    for (std::size_t at = 0; at < data.size(); at += 300000)
        ASSERT_TRUE(sink.Write(data.data() + at, std::min<std::size_t>(300000, data.size() - at)));
    ASSERT_TRUE(sink.Commit()) << sink.Failure();
    EXPECT_EQ(ReadFile(Target()), data);
    struct stat st {};
    ASSERT_EQ(::stat(Target().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1577934246);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(testsupport::ListTree(dir_.Path()), std::vector<std::string>{"list.inf"});
}

// A file kept aside by one sink replaces its target later; across file systems it is copied
// through a sink beside the target (so a half copy never has the target's name) and keeps its
// permission bits.
TEST_F(DownloadSinkTest, AFileKeptAsideReplacesItsTargetEvenFromAnotherFileSystem) {
    const fs::path staged = dir_ / "staged";
    WriteFile(staged, "staged bytes");
    WriteFile(Target(), "old");
    std::string failure;
    ASSERT_TRUE(DownloadSink::CommitFile(staged, Target(), failure)) << failure;
    EXPECT_EQ(ReadFile(Target()), "staged bytes");
    EXPECT_EQ(testsupport::ListTree(dir_.Path()), std::vector<std::string>{"list.inf"});

    // A target that cannot be replaced: the staged file stays for its owner, who is told why.
    fs::create_directories(dir_ / "busy" / "inner");
    WriteFile(staged, "again");
    EXPECT_FALSE(DownloadSink::CommitFile(staged, dir_ / "busy", failure));
    EXPECT_NE(failure.find((dir_ / "busy").string()), std::string::npos) << failure;
    EXPECT_EQ(ReadFile(staged), "again");

    const char* shm = "/dev/shm";
    struct stat here {
    }, there{};
    if (::stat(shm, &there) != 0 || ::stat(dir_.Path().c_str(), &here) != 0 ||
        here.st_dev == there.st_dev || ::access(shm, W_OK) != 0)
        GTEST_SKIP() << "no second file system to copy from";
    const fs::path remote = fs::path(shm) / ("torvane-sink-" + std::to_string(::getpid()));
    const std::string big(3 << 20, 'b');
    WriteFile(remote, big);
    ASSERT_EQ(::chmod(remote.c_str(), 0750), 0);
    ASSERT_TRUE(DownloadSink::CommitFile(remote, Target(), failure)) << failure;
    EXPECT_FALSE(fs::exists(remote));
    EXPECT_EQ(ReadFile(Target()), big);
    ASSERT_EQ(::stat(Target().c_str(), &here), 0);
    EXPECT_EQ(here.st_mode & 0777, 0750u);
    EXPECT_EQ(testsupport::ListTree(dir_.Path()), (std::vector<std::string>{"list.inf", "staged"}));
}

}  // namespace
