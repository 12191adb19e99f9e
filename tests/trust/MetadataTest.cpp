// The repository index and the version manifests: what is written reads back the same, and
// damaged or hostile files are refused with a reason.

#include <gtest/gtest.h>

#include "trust/Manifest.h"
#include "trust/RepositoryIndex.h"
#include "trust/TextRecords.h"

namespace {

RepositoryIndex SampleIndex() {
    RepositoryIndex index;
    index.Serial = 42;
    index.Expires = 1799999999;
    index.VersionFiles.push_back({"version.wvd", 30, Sha256Of("list")});
    index.Versions.push_back({"1.00.01", std::nullopt});
    index.Versions.push_back({"1.00.02", Sha256Of("manifest")});
    return index;
}

Manifest SampleManifest() {
    Manifest m;
    m.Label = "1.00.02";
    m.List = {"1.00.02/list.inf", 99, Sha256Of("list.inf")};
    m.Archive = StoredFile{"1.00.02/up_list.zip", 1000, Sha256Of("zip")};
    auto file = [](std::string path, std::string content, FileSourceKind kind,
                   std::string location) {
        ManifestFile f;
        f.Path = std::move(path);
        f.Size = content.size();
        f.Digest = Sha256Of(content);
        f.Kind = kind;
        f.Location = std::move(location);
        return f;
    };
    ManifestFile plain =
        file("Data/Player/x.bmd", "x", FileSourceKind::Plain, "1.00.01/Data/Player/x.bmd");
    ManifestFile compressed =
        file("a.txt", "aaaaaaa", FileSourceKind::Compressed, "1.00.01/a.txt.VKC");
    compressed.StoredSize = 77;
    compressed.StoredDigest = Sha256Of("a.vkc");
    ManifestFile packed = file("Data/map.att", "m", FileSourceKind::Packed, "1.00.02/up_list.zip");
    packed.Entry = "Data/map.att";
    ManifestFile unknown = file("old.dat", "", FileSourceKind::None, "");
    m.Files = {plain, compressed, packed, unknown};
    return m;
}

TEST(RepositoryIndex, RoundTripsAndLooksUpWithoutCase) {
    std::string text = FormatRepositoryIndex(SampleIndex());
    EXPECT_NE(text.find("expires 2027-01-15T07:59:59Z\n"), std::string::npos) << text;
    std::string error;
    auto back = ParseRepositoryIndex(text, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->Serial, 42u);
    EXPECT_EQ(back->Expires, 1799999999);
    ASSERT_NE(back->FindVersionFile("VERSION.WVD"), nullptr);
    EXPECT_EQ(back->FindVersionFile("VERSION.WVD")->Size, 30u);
    ASSERT_NE(back->FindVersion("1.00.02"), nullptr);
    EXPECT_EQ(*back->FindVersion("1.00.02")->Manifest, Sha256Of("manifest"));
    EXPECT_FALSE(back->FindVersion("1.00.01")->Manifest);
    EXPECT_EQ(FormatRepositoryIndex(*back), text);
}

TEST(RepositoryIndex, RefusesDamagedAndAmbiguousFiles) {
    std::string good = FormatRepositoryIndex(SampleIndex());
    std::string error;
    struct Case {
        const char* Why;
        std::string Text;
    } cases[] = {
        {"cut short", good.substr(0, good.size() - 10)},
        {"empty", ""},
        {"other format", "torvane-repository-index 2\nserial 1\nexpires 2027-01-01T00:00:00Z\n"},
        {"no expiry", "torvane-repository-index 1\nserial 1\n"},
        {"two serials", good + "serial 43\n"},
        {"leading zero", "torvane-repository-index 1\nserial 01\nexpires 2027-01-01T00:00:00Z\n"},
        {"no such day", "torvane-repository-index 1\nserial 1\nexpires 2027-02-31T00:00:00Z\n"},
        {"version twice", good + "version 1.00.02 -\n"},
        {"escaping file", good + "version-file ../x 1 " + ToHex(Sha256Of("")) + "\n"},
        {"double blank", "torvane-repository-index  1\n"},
        {"unknown record", good + "mirror x\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseRepositoryIndex(c.Text, error)) << c.Why;
        EXPECT_FALSE(error.empty()) << c.Why;
    }
}

TEST(Manifest, RoundTripsEveryKindOfSource) {
    std::string text = FormatManifest(SampleManifest());
    std::string error;
    auto back = ParseManifest(text, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(FormatManifest(*back), text);
    const ManifestFile* f = back->Find("DATA\\player\\X.BMD");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Kind, FileSourceKind::Plain);
    EXPECT_EQ(back->Find("a.txt")->StoredSize, 77u);
    EXPECT_EQ(back->Find("data/MAP.att")->Entry, "Data/map.att");
    EXPECT_EQ(back->Find("old.dat")->Kind, FileSourceKind::None);
    EXPECT_EQ(back->Find("Data"), nullptr);
    ASSERT_TRUE(back->Archive);
    EXPECT_EQ(back->Archive->Size, 1000u);
}

TEST(Manifest, RefusesHostileAndDamagedFiles) {
    std::string good = FormatManifest(SampleManifest());
    std::string hash = ToHex(Sha256Of(""));
    std::string error;
    struct Case {
        const char* Why;
        std::string Text;
    } cases[] = {
        {"cut short", good.substr(0, good.size() - 1)},
        {"same path twice by case", good + "file DATA/player/x.bmd 1 " + hash + " none -\n"},
        {"escaping path", good + "file ../evil 1 " + hash + " none -\n"},
        {"absolute location", good + "file b 1 " + hash + " plain /etc/passwd\n"},
        {"back-slash path", good + "file a\\b 1 " + hash + " none -\n"},
        {"short hash", good + "file b 1 abc none -\n"},
        {"unknown kind", good + "file b 1 " + hash + " torrent x\n"},
        {"compressed without its hash", good + "file b 1 " + hash + " compressed b.VKC 3\n"},
        {"size overflows", good + "file b 99999999999999999999 " + hash + " none -\n"},
        {"no list", "torvane-manifest 1\nversion 1.00.01\n"},
        {"huge line", good + "file " + std::string(5000, 'a') + " 1 " + hash + " none -\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseManifest(c.Text, error)) << c.Why;
        EXPECT_FALSE(error.empty()) << c.Why;
    }
}

TEST(TextRecords, TimesReadBackAndRefuseNonsense) {
    using namespace textrecords;
    EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(ParseUtcTime("2028-02-29T12:00:00Z"), 1835438400);
    EXPECT_FALSE(ParseUtcTime("2027-02-29T12:00:00Z"));
    EXPECT_FALSE(ParseUtcTime("2027-01-01 00:00:00Z"));
    EXPECT_FALSE(ParseUtcTime("2027-01-01T00:00:00+01"));
    EXPECT_EQ(FormatUtcTime(1835438400), "2028-02-29T12:00:00Z");
}

}  // namespace
