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

}  // namespace patchtest
