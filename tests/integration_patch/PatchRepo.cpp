#include "integration_patch/PatchRepo.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace patchtest {

std::string Content(const std::string& name, std::size_t size) {
    std::string data;
    data.reserve(size);
    std::uint32_t state = 2166136261u;
    for (char c : name) state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data.push_back(static_cast<char>(state >> 24));
    }
    return data;
}

void WriteTree(const fs::path& root, const Tree& tree) {
    for (const auto& [name, data] : tree) {
        fs::create_directories((root / name).parent_path());
        testsupport::WriteFile(root / name, data);
    }
}

Tree ReadTree(const fs::path& root, const std::string& skipDirectory) {
    Tree tree;
    for (const std::string& name : testsupport::ListTree(root)) {
        if (!skipDirectory.empty() && name.rfind(skipDirectory + "/", 0) == 0) continue;
        tree[name] = testsupport::ReadFile(root / name);
    }
    return tree;
}

void Bzip(const std::string& data, const fs::path& target) {
    testsupport::ChildProcess::Options options;
    options.StdinText = data;
    const auto result = testsupport::Run({"bzip2", "-c"}, options);
    ASSERT_EQ(result.ExitCode, 0);
    fs::create_directories(target.parent_path());
    testsupport::WriteFile(target, result.Stdout);
}

void Zip(const Tree& tree, const fs::path& target) {
    testsupport::TempDir staging;
    WriteTree(staging.Path(), tree);
    const std::string script =
        "import os,sys,zipfile\n"
        "root,out=sys.argv[1],sys.argv[2]\n"
        "with zipfile.ZipFile(out,'w',zipfile.ZIP_DEFLATED) as z:\n"
        "  for d,_,fs in sorted(os.walk(root)):\n"
        "    for f in sorted(fs):\n"
        "      p=os.path.join(d,f); z.write(p, os.path.relpath(p, root))\n";
    fs::create_directories(target.parent_path());
    const auto result = testsupport::Run(
        {"/usr/bin/python3", "-c", script, staging.Path().string(), target.string()});
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
}

std::string VersionList(const std::vector<std::string>& labels) {
    std::string text;
    for (const std::string& label : labels) text += "\"" + label + "\"\n";
    return text;
}

// Five versions of every kind: per-file, compressed, absolute directories, packed, and one
// for the test client only. Returns the game tree a normal client ends with.
Tree BuildStandardRepo(const fs::path& server) {
    testsupport::WriteFile(server / "version.wvd",
                           VersionList({"1.00.01", "1.00.02", "1.00.03", "1.00.04", "1.00.05"}));
    WriteTree(server,
              {
                  {"1.00.01/list.inf",
                   "\"a.bmd\"\n\"old.txt\"\n1 \"Data\\Player\"\n\"p.bmd\"\n"
                   "2 \"Data\"\n\"kamsg.dll\"\n"},
                  {"1.00.01/a.bmd", Content("a1")},
                  {"1.00.01/old.txt", Content("old")},
                  {"1.00.01/p.bmd", Content("p", 70000)},
                  {"1.00.01/kamsg.dll", Content("kamsg")},
                  {"1.00.02/list.inf", "#COMPRESSED#\n\"a.bmd.VKC\"\n1 \"Data\"\n\"c.bmd.VKC\"\n"},
                  {"1.00.03/list.inf", "#NEWTOOLVERSION#\n\"r.txt\"\n1 \"Data\\Map\"\n\"m.att\"\n"},
                  {"1.00.03/r.txt", Content("r")},
                  {"1.00.03/Data/Map/m.att", Content("m")},
                  {"1.00.04/list.inf",
                   "#PACKINGVERSION#\n\"Data\\z.bmd\"\n\"config.ini\"\n@ \"old.txt\"\n"},
                  {"1.00.05/list.inf", "#TEST_SERVER#\n\"t.bmd\"\n"},
                  {"1.00.05/t.bmd", Content("t")},
              });
    Bzip(Content("a2"), server / "1.00.02" / "a.bmd.VKC");
    Bzip(Content("c", 200000), server / "1.00.02" / "c.bmd.VKC");
    Zip({{"config.ini", "[LOGIN]\r\nVersion=1.00.04\r\n"}, {"Data/z.bmd", Content("z")}},
        server / "1.00.04" / "up_list.zip");
    return {
        {"a.bmd", Content("a2")},        {"Data/Player/p.bmd", Content("p", 70000)},
        {"kamsg._ll", Content("kamsg")}, {"Data/c.bmd", Content("c", 200000)},
        {"r.txt", Content("r")},         {"Data/Map/m.att", Content("m")},
        {"Data/z.bmd", Content("z")},    {"config.ini", ""},  // compared by value below
    };
}

}  // namespace patchtest
