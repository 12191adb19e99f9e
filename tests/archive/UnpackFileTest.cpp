#include <bzlib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/UnpackFile.h"
#include "platform/DownloadSink.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Compress(const std::string& data, int blockSize = 9) {
    unsigned int size = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    std::string out(size, '\0');
    const int result =
        BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                 static_cast<unsigned int>(data.size()), blockSize, 0, 0);
    EXPECT_EQ(result, BZ_OK);
    out.resize(size);
    return out;
}

std::string Noise(std::size_t size, unsigned seed, unsigned mask = 0xFF) {
    std::string s(size, '\0');
    unsigned v = seed;
    for (auto& c : s) {
        v = v * 1664525u + 1013904223u;
        c = static_cast<char>((v >> 24) & mask);
    }
    return s;
}

// Records what the restorer reports and stops it on request.
struct Recorder {
    std::uint64_t Total = 0;
    std::vector<std::uint64_t> Done;
    int Pumps = 0;
    int StopAfterPumps = -1;
    Progress Watcher{[this](std::uint64_t d, std::uint64_t t) {
                         Total = t;
                         Done.push_back(d);
                     },
                     [this] { return StopAfterPumps >= 0 && Pumps >= StopAfterPumps; }};
    UnpackControl Control() {
        UnpackControl c;
        c.Watcher = &Watcher;
        c.PumpOneEvent = [this] { ++Pumps; };
        return c;
    }
};

class UnpackFileTest : public ::testing::Test {
protected:
    // Writes `compressed` as Temp/data/<name>.VKC and restores it into that directory.
    int Restore(const std::string& compressed, const std::string& name = "x.att",
                Recorder* recorder = nullptr) {
        std::filesystem::create_directories(dir_ / "Temp" / "data");
        source_ = (dir_ / "Temp" / "data" / (name + ".VKC")).string();
        WriteFile(source_, compressed);
        Recorder local;
        Recorder& r = recorder ? *recorder : local;
        return UnpackFile(r.Control(), source_, (dir_ / "Temp" / "data").string() + "/");
    }
    std::filesystem::path Output(const std::string& name = "x.att") {
        return dir_ / "Temp" / "data" / name;
    }

    TempDir dir_;
    std::string source_;
};

TEST(UnpackedFilePath, DropsLastExtensionAndKeepsDestinationDirectory) {
    EXPECT_EQ(UnpackedFilePath("/g/Temp/data/x.att.VKC", "/g/Temp/data/"), "/g/Temp/data/x.att");
    EXPECT_EQ(UnpackedFilePath("Temp\\data\\Antidote01.bmd.VKC", "Temp\\data\\"),
              "Temp\\data\\Antidote01.bmd");
    // Only the directory part of the destination counts.
    EXPECT_EQ(UnpackedFilePath("a/b.c.VKC", "out/ignored"), "out/b.c");
    EXPECT_EQ(UnpackedFilePath("a/b.c.VKC", "nosep"), "b.c");
}

TEST_F(UnpackFileTest, RestoresBesideTheCompressedFile) {
    const std::string data = Noise(300000, 7) + std::string(200000, 'z');
    Recorder r;
    EXPECT_EQ(Restore(Compress(data), "x.att", &r), 1);
    EXPECT_EQ(ReadFile(Output()), data);
    EXPECT_TRUE(std::filesystem::exists(source_));
    // Progress counts compressed bytes and ends at the file's size.
    EXPECT_EQ(r.Total, std::filesystem::file_size(source_));
    ASSERT_FALSE(r.Done.empty());
    EXPECT_EQ(r.Done.back(), r.Total);
    EXPECT_GE(r.Pumps, static_cast<int>(r.Done.size()));
}

TEST_F(UnpackFileTest, EmptyStreamGivesEmptyFile) {
    EXPECT_EQ(Restore(Compress("")), 1);
    EXPECT_TRUE(std::filesystem::exists(Output()));
    EXPECT_EQ(std::filesystem::file_size(Output()), 0u);
}

TEST_F(UnpackFileTest, OutputLeftInsideDecompressorIsDrained) {
    // A tiny input that expands to many full output buffers.
    const std::string zeros(8 * kUnpackOutputBufferSize, '\0');
    EXPECT_EQ(Restore(Compress(zeros)), 1);
    EXPECT_EQ(ReadFile(Output()), zeros);
}

TEST_F(UnpackFileTest, InputOfWholeBuffersIsReadToTheEnd) {
    // The compressed size of 4-bit noise wobbles by a few bytes from seed to seed: look for a
    // seed whose stream is exactly one input buffer long.
    std::string compressed;
    std::string data;
    for (unsigned seed = 1; seed < 5000 && compressed.size() != kUnpackInputBufferSize; ++seed) {
        data = Noise(24000, seed, 0x0F);
        compressed = Compress(data, 1);
    }
    ASSERT_EQ(compressed.size(), kUnpackInputBufferSize);
    Recorder r;
    EXPECT_EQ(Restore(compressed, "x.att", &r), 1);
    EXPECT_EQ(ReadFile(Output()), data);
    EXPECT_EQ(r.Done, std::vector<std::uint64_t>{kUnpackInputBufferSize});
}

TEST_F(UnpackFileTest, DamagedStreamsFail) {
    const std::string good = Compress(Noise(50000, 11));
    EXPECT_EQ(Restore(good + "x"), 0);                       // data after the end of the stream
    EXPECT_EQ(Restore(good + good), 0);                      // a second stream
    EXPECT_EQ(Restore(good.substr(0, good.size() - 1)), 0);  // cut short
    EXPECT_EQ(Restore(good.substr(0, 1000)), 0);
    EXPECT_EQ(Restore(""), 0);
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x10);
    EXPECT_EQ(Restore(flipped), 0);
    EXPECT_EQ(Restore("BZh9 this is not bzip2 data at all"), 0);
}

TEST_F(UnpackFileTest, StopDeletesPartialOutput) {
    Recorder r;
    r.StopAfterPumps = 3;
    EXPECT_EQ(Restore(Compress(Noise(400000, 5)), "x.att", &r), 0);
    EXPECT_EQ(r.Pumps, 3);
    EXPECT_FALSE(std::filesystem::exists(Output()));
    EXPECT_TRUE(std::filesystem::exists(source_));
}

TEST_F(UnpackFileTest, UnusablePathsFail) {
    Recorder r;
    EXPECT_EQ(UnpackFile(r.Control(), (dir_ / "missing.VKC").string(), dir_.Path().string() + "/"),
              0);
    // Without an extension the output would be the input itself: refused, input untouched.
    const std::string compressed = Compress("abc");
    const auto bare = dir_ / "bare";
    WriteFile(bare, compressed);
    EXPECT_EQ(UnpackFile(r.Control(), bare.string(), dir_.Path().string() + "/"), 0);
    EXPECT_EQ(ReadFile(bare), compressed);
    // A destination directory that does not exist.
    WriteFile(dir_ / "y.VKC", compressed);
    EXPECT_EQ(UnpackFile(r.Control(), (dir_ / "y.VKC").string(), (dir_ / "no/such/").string()), 0);
}

// Restored into a sink: its validators see the restored bytes, and the target takes them only
// whole; anything less leaves the target as it was and nothing beside it.
TEST_F(UnpackFileTest, RestoresIntoASinkThatCommitsOnlyWholeCheckedFiles) {
    const std::string data = Noise(300000, 3) + std::string(100000, 'q');
    const std::string good = Compress(data);
    const auto source = dir_ / "x.att.VKC";
    WriteFile(source, good);
    const auto target = dir_ / "x.att";
    auto restoreInto = [&](const std::string& compressed, const Sha256Digest& digest,
                           Recorder* recorder = nullptr) {
        WriteFile(source, compressed);
        Recorder local;
        DownloadSink sink(target);
        sink.Expect({data.size(), std::nullopt, digest});
        if (!sink.Open()) return false;
        const int restored =
            UnpackFileTo((recorder ? *recorder : local).Control(), source.string(), sink);
        return restored == 1 && sink.Commit();
    };
    auto onlySourceAndTarget = [&] {
        return testsupport::ListTree(dir_.Path()) == std::vector<std::string>{"x.att", "x.att.VKC"};
    };

    ASSERT_TRUE(restoreInto(good, Sha256Of(data)));
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_TRUE(onlySourceAndTarget());

    WriteFile(target, "the old file");
    EXPECT_FALSE(restoreInto(good, Sha256Of(data + "x")));  // restored bytes of another hash
    EXPECT_FALSE(restoreInto(good.substr(0, good.size() / 2), Sha256Of(data)));  // cut short
    EXPECT_FALSE(restoreInto(Compress(data + "more"), Sha256Of(data)));  // longer than expected
    Recorder stopped;
    stopped.StopAfterPumps = 2;
    EXPECT_FALSE(restoreInto(good, Sha256Of(data), &stopped));
    EXPECT_EQ(ReadFile(target), "the old file");
    EXPECT_TRUE(onlySourceAndTarget());
}

}  // namespace
