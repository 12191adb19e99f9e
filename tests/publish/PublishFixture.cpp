#include "PublishFixture.h"

#include <bzlib.h>
#include <zip.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace publishtest {

void MakeTree(const fs::path& root, const Tree& tree) {
    fs::create_directories(root);
    const auto fixed = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    for (const auto& [path, contents] : tree) {
        if (path.ends_with("/")) {
            fs::create_directories(root / path);
            continue;
        }
        fs::create_directories((root / path).parent_path());
        testsupport::WriteFile(root / path, contents);
        fs::last_write_time(root / path, fixed);
    }
}

std::map<std::string, std::string> ReadZip(const fs::path& archive) {
    std::map<std::string, std::string> out;
    int code = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &code);
    if (!za) return out;
    zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
        std::string data(st.size, '\0');
        zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
        if (f) {
            zip_fread(f, data.data(), data.size());
            zip_fclose(f);
        }
        out[st.name] = data;
    }
    zip_close(za);
    return out;
}

std::optional<std::string> Bunzip(const fs::path& file) {
    std::string packed = testsupport::ReadFile(file);
    std::string out(packed.size() * 20 + 1024, '\0');
    for (int attempt = 0; attempt < 6; ++attempt) {
        unsigned int size = static_cast<unsigned int>(out.size());
        int rc = BZ2_bzBuffToBuffDecompress(out.data(), &size, packed.data(),
                                            static_cast<unsigned int>(packed.size()), 0, 0);
        if (rc == BZ_OK) {
            out.resize(size);
            return out;
        }
        if (rc != BZ_OUTBUFF_FULL) return std::nullopt;
        out.resize(out.size() * 4);
    }
    return std::nullopt;
}

PublishOptions Options(const fs::path& repo, const std::string& label, const fs::path& to,
                       PatchMode mode) {
    PublishOptions o;
    o.Repository = repo;
    o.Label = label;
    o.NewTree = to;
    o.Mode = mode;
    return o;
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    if (!fs::exists(dir, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        out.push_back(fs::relative(it->path(), dir).string() + (it->is_directory() ? "/" : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace publishtest
