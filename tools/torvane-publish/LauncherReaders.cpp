#include "LauncherReaders.h"

#include <unistd.h>

#include <system_error>
#include <vector>

#include "TreeScan.h"
#include "archive/FileException.h"
#include "archive/UnpackFile.h"
#include "archive/UnzipFile.h"
#include "archive/ZipException.h"

std::optional<ArchiveView> ReadPatchArchive(const std::filesystem::path& file, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = "is missing";
        return std::nullopt;
    }
    ArchiveView view;
    try {
        CUnzipFile archive(file.string());
        archive.MoveFirst();
        std::vector<char> buffer(CUnzipFile::kReadBufferSize);
        do {
            EntryInfo info;
            archive.GetEntryInfo(&info);
            ArchiveEntryView entry;
            entry.Name = archive.GetEntryName();
            entry.IsDirectory =
                !entry.Name.empty() && (entry.Name.back() == '/' || entry.Name.back() == '\\');
            if (!entry.IsDirectory) {
                // Every entry is read to its end, so that its CRC is checked when it closes.
                bool isConfig = FoldCase(entry.Name) == "config.ini";
                std::string contents;
                archive.OpenEntry();
                for (std::size_t n; (n = archive.ReadEntry(buffer.data(), buffer.size())) > 0;) {
                    entry.Size += n;
                    if (isConfig) contents.append(buffer.data(), n);
                }
                if (isConfig) view.ConfigIni = contents;
            }
            view.Entries.push_back(std::move(entry));
        } while (archive.MoveNext());
        archive.Close();
    } catch (const CZipException& e) {
        error = "is damaged: " + std::string(e.what());
        return std::nullopt;
    } catch (const CFileException& e) {
        error = "cannot be read: " + std::string(e.what());
        return std::nullopt;
    }
    return view;
}

bool IsCompleteCompressedFile(const std::filesystem::path& file, std::string& error) {
    // Restored with the launcher's own restorer into a scratch directory, then thrown away.
    std::error_code ec;
    auto scratch =
        std::filesystem::temp_directory_path(ec) / ("torvane-check-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch, ec);
    int restored = UnpackFile(UnpackControl{}, file.string(), scratch.string() + "/");
    std::filesystem::remove_all(scratch, ec);
    if (restored != 1) {
        error = "is not one complete bzip2 stream; the launcher cannot restore it";
        return false;
    }
    return true;
}
