// Compatibility with archives and streams written by other programs, from the shared corpus.
// Python's zipfile and bzip2 give the expected bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/FileException.h"
#include "archive/UnpackFile.h"
#include "archive/UnzipFile.h"
#include "archive/ZipBuilder.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;

std::vector<fs::path> FilesUnder(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() != ".md")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Reads every entry of `path`; the cause of the reader's exception, 0 when all went well.
int ReadWholeArchive(const std::string& path, std::vector<std::string>* contents = nullptr) {
    try {
        CUnzipFile zip(path);
        do {
            const std::string data = ziptest::ReadAll(zip);
            if (contents) contents->push_back(data);
        } while (zip.MoveNext());
        zip.Close();
        return 0;
    } catch (const CZipException& e) {
        return e.cause;
    } catch (const CFileException&) {
        return -1;
    }
}

TEST(ZipCorpus, ReadsWhatTheReferenceReadsAndRejectsTheRest) {
    TORVANE_REQUIRE_CORPUS(corpus);
    const auto script = testsupport::SourcePath("tests/archive/zip_reference.py");
    const std::vector<fs::path> archives = FilesUnder(corpus / "zip");
    TempDir out;
    std::vector<std::string> argv = {"/usr/bin/python3", script.string(), out.Path().string()};
    for (const fs::path& archive : archives) argv.push_back(archive.string());
    const auto reference = testsupport::Run(argv);
    ASSERT_EQ(reference.ExitCode, 0) << reference.Stderr;
    std::istringstream lines(reference.Stdout);
    int supported = 0;
    int rejected = 0;
    for (std::size_t k = 0; k < archives.size(); ++k) {
        SCOPED_TRACE(archives[k].string());
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        std::vector<std::string> contents;
        const int cause = ReadWholeArchive(archives[k].string(), &contents);
        if (line.rfind("supported ", 0) == 0) {
            ++supported;
            ASSERT_EQ(cause, 0);
            const std::size_t count = std::stoul(line.substr(10));
            ASSERT_EQ(contents.size(), count);
            for (std::size_t i = 0; i < count; ++i)
                EXPECT_EQ(contents[i], ReadFile(out / std::to_string(k) / std::to_string(i)))
                    << "entry " << i;
        } else {
            ++rejected;
            EXPECT_GT(cause, 0) << line;
        }
    }
    EXPECT_GT(supported, 50);
    EXPECT_GT(rejected, 30);
}

// klauspost's fuzz corpus: each entry is a candidate archive. Whatever it holds, reading it
// ends in a result or one of the reader's own exceptions.
TEST(ZipCorpus, FuzzCandidatesNeverEscapeTheReader) {
    TORVANE_REQUIRE_CORPUS(corpus);
    const fs::path container = corpus / "zip" / "klauspost-fuzz" / "FuzzReader-raw.zip";
    if (!fs::exists(container)) GTEST_SKIP() << "no fuzz container in the corpus";
    std::vector<std::string> candidates;
    ASSERT_EQ(ReadWholeArchive(container.string(), &candidates), 0);
    ASSERT_GT(candidates.size(), 100u);
    TempDir dir;
    int read = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto path = dir / ("c" + std::to_string(i));
        testsupport::WriteFile(path, candidates[i]);
        if (ReadWholeArchive(path.string()) == 0) ++read;
    }
    EXPECT_GT(read, 0);
}

// Streams holding more than one bzip2 stream: bzip2 joins them, a data file must be exactly one.
const std::set<std::string> kMultiStream = {"concat.bz2", "test_compat_bzip2_1.tbz"};

TEST(Bz2Corpus, RestoresWhatBzip2RestoresCleanly) {
    TORVANE_REQUIRE_CORPUS(corpus);
    int restored = 0;
    int refused = 0;
    for (const fs::path& file : FilesUnder(corpus / "bz2")) {
        const auto ext = file.extension();
        if (ext != ".bz2" && ext != ".tbz") continue;
        SCOPED_TRACE(file.string());
        const auto reference = testsupport::Run({"bzip2", "-dc", file.string()});
        const bool clean = reference.ExitCode == 0 && reference.Stderr.empty() &&
                           !kMultiStream.count(file.filename().string());
        TempDir dir;
        fs::copy_file(file, dir / "x.VKC");
        const int result =
            UnpackFile(UnpackControl{}, (dir / "x.VKC").string(), dir.Path().string() + "/");
        if (clean) {
            ++restored;
            ASSERT_EQ(result, 1);
            EXPECT_TRUE(ReadFile(dir / "x") == reference.Stdout);
        } else {
            ++refused;
            EXPECT_EQ(result, 0);
        }
    }
    EXPECT_GT(restored, 60);
    EXPECT_GT(refused, 10);
}

}  // namespace
