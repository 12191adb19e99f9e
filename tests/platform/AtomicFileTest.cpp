#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TestSupport.h"

using testsupport::ListTree;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(AtomicFileTest, ReplacesContentsKeepsModeAndLeavesNoTemporaryFiles) {
    TempDir dir;
    const auto target = dir / "config.ini";
    WriteFile(target, "old contents that are longer");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    ASSERT_TRUE(WriteFileAtomically(target, "new"));
    EXPECT_EQ(ReadFile(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ListTree(dir.Path()), std::vector<std::string>{"config.ini"});

    ASSERT_TRUE(WriteFileAtomically(dir / "fresh", std::string("a\0b", 3)));
    EXPECT_EQ(ReadFile(dir / "fresh"), std::string("a\0b", 3));
}

TEST(AtomicFileTest, FailureLeavesTargetUntouched) {
    TempDir dir;
    EXPECT_FALSE(WriteFileAtomically(dir / "missing-dir" / "f", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing-dir"));

    // The target is a directory: rename fails, nothing is left behind.
    std::filesystem::create_directories(dir / "d" / "inner");
    EXPECT_FALSE(WriteFileAtomically(dir / "d", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "d" / "inner"));
    EXPECT_EQ(ListTree(dir.Path()).size(), 0u);
}

TEST(AtomicFileTest, CopyKeepsSourceModeAndBytes) {
    TempDir dir;
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
    WriteFile(dir / "src", big);
    ASSERT_EQ(::chmod((dir / "src").c_str(), 0750), 0);
    WriteFile(dir / "dst", "old");

    ASSERT_TRUE(CopyFileAtomically(dir / "src", dir / "dst"));
    EXPECT_EQ(ReadFile(dir / "dst"), big);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_FALSE(CopyFileAtomically(dir / "absent", dir / "dst"));
    EXPECT_EQ(ReadFile(dir / "dst"), big);

    // Left to a later flush: the same bytes and mode, empty files too, no temporaries.
    WriteFile(dir / "empty", "");
    ASSERT_TRUE(CopyFileAtomically(dir / "src", dir / "later", FlushMode::Later));
    EXPECT_EQ(ReadFile(dir / "later"), big);
    ASSERT_TRUE(CopyFileAtomically(dir / "empty", dir / "later", FlushMode::Later));
    EXPECT_EQ(ReadFile(dir / "later"), "");
    EXPECT_TRUE(SyncFileSystemOf(dir.Path()));
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    EXPECT_NE(TemporarySibling(dir / "dst"), TemporarySibling(dir / "dst"));
    EXPECT_EQ(TemporarySibling(dir / "dst").parent_path(), dir.Path());
}
