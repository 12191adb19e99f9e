#include "PackedArchiveWriter.h"

#include <sys/stat.h>
#include <zip.h>

#include <system_error>

namespace {

// MS-DOS "archive" attribute: the value Windows tools store for an ordinary file. The
// launcher applies the stored attributes to the installed file, so nothing here may mark a
// file read-only or hidden.
constexpr zip_uint32_t kDosArchiveAttribute = 0x20;

std::string LibzipError(zip_t* archive) {
    const char* text = zip_strerror(archive);
    return text ? text : "unknown error";
}

// The attributes of one member: plain files as Windows tools store them (byte for byte what
// earlier versions of this tool wrote), programs and scripts as Unix tools do, with the
// MS-DOS byte kept below the mode.
bool SetAttributes(zip_t* archive, zip_uint64_t at, unsigned executeBits) {
    if (executeBits == 0) {
        return zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_DOS,
                                                kDosArchiveAttribute) == 0;
    }
    const zip_uint32_t mode = S_IFREG | 0644u | (executeBits & 0111u);
    return zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                            (mode << 16) | kDosArchiveAttribute) == 0;
}

}  // namespace

unsigned FileExecuteBits(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return 0;
    return static_cast<unsigned>(st.st_mode) & 0111u;
}

std::time_t FileModificationTime(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return 0;
    return st.st_mtime;
}

bool WritePackedArchive(const std::filesystem::path& target,
                        const std::vector<ArchiveMember>& members, std::string& error) {
    int code = 0;
    zip_t* archive = zip_open(target.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, code);
        error = target.string() + ": " + zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return false;
    }
    auto fail = [&](const std::string& what) {
        error = what + ": " + LibzipError(archive);
        zip_discard(archive);
        std::error_code ec;
        std::filesystem::remove(target, ec);
        return false;
    };
    for (const auto& member : members) {
        zip_source_t* source =
            member.FromContents
                ? zip_source_buffer(archive, member.Contents.data(), member.Contents.size(), 0)
                : zip_source_file(archive, member.Source.c_str(), 0, -1);
        if (!source) return fail(member.Name);
        zip_int64_t index = zip_file_add(archive, member.Name.c_str(), source, ZIP_FL_ENC_GUESS);
        if (index < 0) {
            zip_source_free(source);
            return fail(member.Name);
        }
        auto at = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(archive, at, ZIP_CM_DEFLATE, 9) != 0 ||
            zip_file_set_mtime(archive, at, member.ModificationTime, 0) != 0 ||
            !SetAttributes(archive, at, member.ExecuteBits)) {
            return fail(member.Name);
        }
    }
    if (zip_close(archive) != 0) return fail(target.string());
    return true;
}
