#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "patch/PatchEngine.h"
#include "patch/RecordingPatchHost.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ListTree;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

using Entries = std::vector<std::pair<std::string, std::string>>;

// Writes a real zip with Python's zipfile: entries deflated unless `stored`.
void MakeZip(const fs::path& zip, const Entries& entries, bool stored = false) {
    std::vector<std::string> argv = {
        "/usr/bin/python3", "-c",
        "import sys, zipfile\n"
        "m = zipfile.ZIP_STORED if sys.argv[2] == 's' else zipfile.ZIP_DEFLATED\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', m) as z:\n"
        "    a = sys.argv[3:]\n"
        "    for i in range(0, len(a), 2):\n"
        "        z.writestr(zipfile.ZipInfo(a[i], (2020, 1, 2, 3, 4, 6)), a[i + 1])\n",
        zip.string(), stored ? "s" : "d"};
    for (const auto& [name, contents] : entries) {
        argv.push_back(name);
        argv.push_back(contents);
    }
    const auto result = testsupport::Run(argv);
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
}

class ArchiveInstallTest : public ::testing::Test {
protected:
    TempDir sandbox;
    fs::path game = sandbox / "game";
    RecordingPatchHost host;
    PatchEngine engine{host, GamePath(game)};

    void SetUp() override { fs::create_directories(game / "Temp"); }
};

TEST_F(ArchiveInstallTest, UnpacksWithSubstitutesAndReplacesConfig) {
    WriteFile(game / "config.ini", "[LOGIN]\nVersion=1.00.00\n");
    WriteFile(game / "DATA" / "A.BMD", "old a");
    WriteFile(game / "kamsg.dll", "running kamsg");
    MakeZip(game / "Temp" / "up_list.zip", {{"Data/", ""},
                                            {"Data/a.bmd", "new a"},
                                            {"Data/kamsg.dll", "nested kamsg"},
                                            {"Data/Sub/deep.att", std::string(40000, 'd')},
                                            {"KAMSG.DLL", "root kamsg"},
                                            {"Torvane.exe", "launcher"},
                                            {"message.wtf", "texts"},
                                            {"vk_zp.dll", "zp"},
                                            {"config.ini", "[LOGIN]\nVersion=1.00.02\n"}});

    ASSERT_TRUE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    EXPECT_EQ(host.StatusMessages, (std::vector<int>{146}));
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(host.CloseCalls, 0);
    EXPECT_EQ(ReadFile(game / "DATA" / "A.BMD"), "new a");             // existing spelling kept
    EXPECT_EQ(ReadFile(game / "DATA" / "kamsg.dll"), "nested kamsg");  // whole name compared
    EXPECT_EQ(ReadFile(game / "DATA" / "Sub" / "deep.att"), std::string(40000, 'd'));
    EXPECT_EQ(ReadFile(game / "kamsg.dll"), "running kamsg");
    EXPECT_EQ(ReadFile(game / "kamsg._ll"), "root kamsg");
    EXPECT_EQ(ReadFile(game / "Torvane._xe"), "launcher");
    EXPECT_EQ(ReadFile(game / "message._tf"), "texts");
    EXPECT_EQ(ReadFile(game / "vk_zp._ll"), "zp");
    EXPECT_EQ(ReadFile(game / "config.ini"), "[LOGIN]\nVersion=1.00.02\n");
    EXPECT_EQ(ListTree(game),
              (std::vector<std::string>{"DATA/A.BMD", "DATA/Sub/deep.att", "DATA/kamsg.dll",
                                        "Torvane._xe", "config.ini", "kamsg._ll", "kamsg.dll",
                                        "message._tf", "vk_zp._ll"}));
    // The entry's time is stamped on the written file.
    const auto written = fs::last_write_time(game / "DATA" / "A.BMD");
    EXPECT_LT(written, fs::last_write_time(game / "config.ini") - std::chrono::hours(24 * 365));
}

// Each unpacked file carries its own entry's time (neighbours with different times, then the
// first time again), the read-only attribute and a Unix entry's execute bits.
TEST_F(ArchiveInstallTest, EachFileKeepsItsEntrysTimeAndAttributes) {
    const auto result =
        testsupport::Run({"/usr/bin/python3", "-c",
                          "import sys, zipfile\n"
                          "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                          "    def put(name, when, system, attributes, data):\n"
                          "        i = zipfile.ZipInfo(name, when)\n"
                          "        i.create_system, i.external_attr = system, attributes\n"
                          "        z.writestr(i, data)\n"
                          "    put('a.bmd', (2019, 6, 1, 10, 20, 30), 0, 0x20, 'a')\n"
                          "    put('b.bmd', (2021, 2, 3, 4, 5, 6), 0, 0x21, 'read-only ' * 9000)\n"
                          "    put('c.sh', (2019, 6, 1, 10, 20, 30), 3, 0o100755 << 16, 'run')\n"
                          "    put('config.ini', (2022, 1, 1, 0, 0, 0), 0, 0x20, 'c')\n",
                          (game / "Temp" / "up_list.zip").string()});
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
    ASSERT_TRUE(engine.UnpackPatchArchive("Temp\\up_list.zip"));

    const auto localTime = [](int year, int month, int day, int hour, int minute, int second) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        return std::mktime(&tm);
    };
    const auto status = [&](const char* name) {
        struct stat st {};
        EXPECT_EQ(::stat((game / name).c_str(), &st), 0) << name;
        return st;
    };
    EXPECT_EQ(status("a.bmd").st_mtime, localTime(2019, 6, 1, 10, 20, 30));
    EXPECT_EQ(status("b.bmd").st_mtime, localTime(2021, 2, 3, 4, 5, 6));
    EXPECT_EQ(status("c.sh").st_mtime, localTime(2019, 6, 1, 10, 20, 30));
    EXPECT_EQ(status("a.bmd").st_mode & 0777, 0644u);
    EXPECT_EQ(status("b.bmd").st_mode & 0777, 0444u);
    EXPECT_EQ(status("c.sh").st_mode & 0777, 0755u);
    EXPECT_EQ(ReadFile(game / "b.bmd").size(), 90000u);
    EXPECT_EQ(ReadFile(game / "c.sh"), "run");
}

TEST_F(ArchiveInstallTest, StoredEntriesAndExactBufferSizes) {
    MakeZip(game / "Temp" / "up_list.zip",
            {{"exact.bin", std::string(16384, 'x')}, {"empty.txt", ""}, {"config.ini", "c"}}, true);
    ASSERT_TRUE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    EXPECT_EQ(ReadFile(game / "exact.bin"), std::string(16384, 'x'));
    EXPECT_TRUE(fs::exists(game / "empty.txt"));
    EXPECT_EQ(fs::file_size(game / "empty.txt"), 0u);
}

TEST_F(ArchiveInstallTest, ArchiveWithoutConfigEndsWithConfigError) {
    MakeZip(game / "Temp" / "up_list.zip", {{"a.txt", "a"}});
    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Text, "\"config.ini\" error");
    EXPECT_EQ(host.Boxes[0].Icon, MessageBoxIcon::Stop);
    EXPECT_EQ(host.CloseCalls, 1);
    EXPECT_EQ(ReadFile(game / "a.txt"), "a");  // everything else was written first
}

TEST_F(ArchiveInstallTest, HostileNamesWriteNothing) {
    for (const std::string hostile : {"../evil.txt", "/tmp/torvane-evil.txt", "C:/evil.txt",
                                      "Data/../../evil.txt", "Data\\..\\..\\evil.txt"}) {
        SCOPED_TRACE(hostile);
        host.Boxes.clear();
        host.CloseCalls = 0;
        MakeZip(game / "Temp" / "up_list.zip",
                {{"first.txt", "1"}, {hostile, "evil"}, {"config.ini", "c"}});
        EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
        ASSERT_EQ(host.Boxes.size(), 1u);
        EXPECT_EQ(host.Boxes[0].Icon, MessageBoxIcon::Stop);
        EXPECT_EQ(host.CloseCalls, 1);
        // Nothing written, and the refused archive is not kept either.
        EXPECT_TRUE(ListTree(sandbox.Path()).empty());
    }
    EXPECT_FALSE(fs::exists("/tmp/torvane-evil.txt"));
}

TEST_F(ArchiveInstallTest, DamagedArchivesFailWithoutClosingTheWindow) {
    WriteFile(game / "Temp" / "up_list.zip", "this is no zip archive at all");
    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    EXPECT_EQ(host.StatusMessages, (std::vector<int>{146, 138}));
    EXPECT_EQ(host.CloseCalls, 0);

    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\absent.zip"));
    EXPECT_EQ(host.CloseCalls, 0);
}

// However many threads share the decompressing, every entry lands whole in its own place, and
// damage in any thread's share changes nothing of the game.
TEST_F(ArchiveInstallTest, EntriesSharedAmongThreadsLandWholeAndDamageChangesNothing) {
    Entries entries;
    for (int i = 0; i < 9; ++i)
        entries.push_back({"Data/f" + std::to_string(i) + ".bmd",
                           "PAYLOAD-" + std::to_string(i) + std::string(70000 + i, 'a' + i)});
    entries.push_back({"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"});
    for (unsigned threads : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        engine.UnpackThreads = threads;
        fs::remove_all(game);
        fs::create_directories(game / "Temp");
        WriteFile(game / "Data" / "f7.bmd", "old");
        const fs::path zip = game / "Temp" / "up_list.zip";
        // Entry 7 damaged: it falls in a different thread's share for each count.
        MakeZip(zip, entries, true);
        std::string bytes = ReadFile(zip);
        bytes[bytes.find("PAYLOAD-7") + 8] = 'X';
        WriteFile(zip, bytes);
        EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
        EXPECT_EQ(ListTree(game), std::vector<std::string>{"Data/f7.bmd"});
        EXPECT_EQ(ReadFile(game / "Data" / "f7.bmd"), "old");

        MakeZip(zip, entries);
        ASSERT_TRUE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
        for (const auto& [name, contents] : entries)
            EXPECT_TRUE(ReadFile(game / name) == contents) << name;
        EXPECT_TRUE(ListTree(game / "Temp").empty());
    }
}

// The damage is found while decompressing, before any file of the game directory changes.
TEST_F(ArchiveInstallTest, EntryWithBadCrcChangesNothing) {
    WriteFile(game / "b.txt", "good");
    const fs::path zip = game / "Temp" / "up_list.zip";
    MakeZip(zip, {{"a.txt", "aaaa"}, {"b.txt", "PAYLOAD-B"}, {"config.ini", "c"}}, true);
    std::string bytes = ReadFile(zip);
    const auto at = bytes.find("PAYLOAD-B");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'X';
    WriteFile(zip, bytes);

    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    EXPECT_EQ(host.StatusMessages.back(), 138);
    EXPECT_EQ(ReadFile(game / "b.txt"), "good");
    EXPECT_EQ(ListTree(game), (std::vector<std::string>{"b.txt"}));
}

TEST_F(ArchiveInstallTest, PackedPatchDeletesDownloadsAndUnpacks) {
    WriteFile(game / "Data" / "old.bmd", "old");
    MakeZip(sandbox / "served.zip", {{"Data/new.bmd", "new"}, {"config.ini", "c"}});
    const PatchList list =
        ParsePatchList("#PACKINGVERSION# \"Data\\new.bmd\" \"Torvane.exe\" @ \"Data\\old.bmd\"");

    std::vector<std::string> requests;
    const auto download = [&](const std::string& remote, const std::string& local) {
        requests.push_back(remote + " -> " + local);
        fs::copy_file(sandbox / "served.zip", game / "Temp" / "up_list.zip");
        return true;
    };
    ASSERT_TRUE(engine.InstallPackedPatch(list, download));
    EXPECT_EQ(requests, (std::vector<std::string>{"up_list.zip -> Temp\\up_list.zip"}));
    EXPECT_FALSE(fs::exists(game / "Data" / "old.bmd"));
    EXPECT_EQ(ReadFile(game / "Data" / "new.bmd"), "new");
    EXPECT_FALSE(fs::exists(game / "Temp" / "up_list.zip"));
    EXPECT_EQ(engine.SelfUpdatePending, 1);

    // A download that fails deletes nothing: the installed version stays whole.
    WriteFile(game / "Data" / "old.bmd", "old again");
    const auto failing = [](const std::string&, const std::string&) { return false; };
    EXPECT_FALSE(engine.InstallPackedPatch(list, failing));
    EXPECT_EQ(host.StatusMessages.back(), 138);
    EXPECT_EQ(ReadFile(game / "Data" / "old.bmd"), "old again");
}

TEST_F(ArchiveInstallTest, NewDirectoryInTwoSpellingsAndEntriesDifferingInCaseMakeOne) {
    MakeZip(game / "Temp" / "up_list.zip", {{"NewDir/a.bmd", "a"},
                                            {"newdir/b.bmd", "b"},
                                            {"NEWDIR/Sub/c.bmd", "c"},
                                            {"newdir/sub/d.bmd", "d"},
                                            {"x.bmd", "first x"},
                                            {"X.BMD", "second x"},
                                            {"config.ini", "c"}});
    ASSERT_TRUE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    EXPECT_EQ(ListTree(game),
              (std::vector<std::string>{"NewDir/Sub/c.bmd", "NewDir/Sub/d.bmd", "NewDir/a.bmd",
                                        "NewDir/b.bmd", "config.ini", "x.bmd"}));
    EXPECT_EQ(ReadFile(game / "x.bmd"), "second x");  // the later entry wins
}

TEST_F(ArchiveInstallTest, StrayConfigSubstituteIsRemovedBeforeUnpacking) {
    WriteFile(game / "config.ini", "[LOGIN]\nVersion=1.00.00\n");
    WriteFile(game / "config._ni", "[LOGIN]\nVersion=6.66.66\n");
    WriteFile(game / "Config._NI", "[LOGIN]\nVersion=7.77.77\n");
    MakeZip(game / "Temp" / "up_list.zip", {{"a.txt", "a"}});
    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Text, "\"config.ini\" error");
    EXPECT_EQ(ReadFile(game / "config.ini"), "[LOGIN]\nVersion=1.00.00\n");
    EXPECT_EQ(ListTree(game), (std::vector<std::string>{"a.txt", "config.ini"}));
}

TEST_F(ArchiveInstallTest, StopFlagEndsUnpackingBetweenChunksWithNothingHalfDone) {
    // One thread: the stop is asked for at known points.
    engine.UnpackThreads = 1;
    WriteFile(game / "later.txt", "old later");
    const Entries entries = {
        {"big.bin", std::string(100000, 'b')}, {"later.txt", "later"}, {"config.ini", "c"}};
    int checks = 0;
    int stopAt = 0;
    const auto stop = [&] { return ++checks >= stopAt; };

    // Stopped while decompressing: the game directory is as it was, nothing is left in
    // "Temp", and the archive is given up with the unpack.
    stopAt = 2;
    MakeZip(game / "Temp" / "up_list.zip", entries);
    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip", stop));
    EXPECT_EQ(checks, 2);
    EXPECT_EQ(ListTree(game), std::vector<std::string>{"later.txt"});
    EXPECT_EQ(ReadFile(game / "later.txt"), "old later");

    // Stopped while moving the files into place: each file is old or new, never half.
    checks = 0;
    stopAt = 4;
    MakeZip(game / "Temp" / "up_list.zip", entries);
    EXPECT_FALSE(engine.UnpackPatchArchive("Temp\\up_list.zip", stop));
    EXPECT_EQ(checks, 4);
    EXPECT_EQ(ListTree(game), (std::vector<std::string>{"big.bin", "later.txt"}));
    EXPECT_EQ(ReadFile(game / "big.bin"), std::string(100000, 'b'));
    EXPECT_EQ(ReadFile(game / "later.txt"), "old later");
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(host.CloseCalls, 0);
}

// A run killed while decompressing or moving leaves "Temp\.unpacked"; the next run clears it
// before anything else, and an unpack over such leftovers installs only its own entries.
TEST_F(ArchiveInstallTest, LeftoversOfAKilledUnpackAreCleared) {
    WriteFile(game / "Temp" / ".unpacked" / "0", "half of an earlier entry");
    WriteFile(game / "Temp" / ".unpacked" / "7", "an entry of another archive");
    MakeZip(game / "Temp" / "up_list.zip", {{"a.txt", "a"}, {"config.ini", "c"}});
    ASSERT_TRUE(engine.UnpackPatchArchive("Temp\\up_list.zip"));
    EXPECT_EQ(ListTree(game), (std::vector<std::string>{"a.txt", "config.ini"}));
    EXPECT_EQ(ReadFile(game / "a.txt"), "a");

    WriteFile(game / "Temp" / ".unpacked" / "0", "left by a kill");
    engine.RemoveStaleTemporaries();
    EXPECT_FALSE(fs::exists(game / "Temp" / ".unpacked"));
}

TEST_F(ArchiveInstallTest, DamagedOrHostileArchiveDeletesNothing) {
    WriteFile(game / "keep.bmd", "keep");
    const PatchList list = ParsePatchList("#PACKINGVERSION# \"a.txt\" @ \"keep.bmd\"");
    const fs::path zip = game / "Temp" / "up_list.zip";

    MakeZip(zip, {{"a.txt", "PAYLOAD-A"}, {"config.ini", "c"}}, true);
    std::string bytes = ReadFile(zip);
    bytes[bytes.find("PAYLOAD-A")] = 'X';
    WriteFile(zip, bytes);
    EXPECT_FALSE(engine.ApplyPackedArchive(list, "Temp\\up_list.zip"));
    EXPECT_EQ(host.StatusMessages.back(), 138);

    MakeZip(zip, {{"a.txt", "a"}, {"../evil.txt", "evil"}, {"config.ini", "c"}});
    EXPECT_FALSE(engine.ApplyPackedArchive(list, "Temp\\up_list.zip"));
    EXPECT_EQ(host.CloseCalls, 1);

    EXPECT_EQ(ListTree(sandbox.Path()), (std::vector<std::string>{"game/keep.bmd"}));
}

}  // namespace
