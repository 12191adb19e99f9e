// zip list / test / extract through the launcher's own zip reader.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "Commands.h"
#include "archive/FileException.h"
#include "archive/UnzipFile.h"
#include "archive/ZipException.h"
#include "platform/GamePath.h"

namespace {

// Runs `body`, turning the reader's exceptions into the tool's exit status 2.
template <typename Body>
int Guarded(Body body) {
    try {
        return body();
    } catch (const CZipException& e) {
        std::cerr << "cause " << e.cause << "\n";
    } catch (const CFileException& e) {
        std::cerr << e.what() << "\n";
    }
    return 2;
}

// Large pieces: fewer system calls for big entries, still within the cache.
constexpr std::size_t kExtractPiece = 256 * 1024;

bool IsDirectoryName(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

}  // namespace

int ZipList(const Arguments& args) {
    if (args.size() != 1) {
        std::cerr << "usage: torvane-tool zip list ARCHIVE\n";
        return 64;
    }
    return Guarded([&] {
        CUnzipFile zip(args[0]);
        do {
            EntryInfo info;
            zip.GetEntryInfo(&info);
            const std::string name = zip.GetEntryName();
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", info.Crc32);
            std::cout << name << '\t' << info.Method << '\t' << info.CompressedSize << '\t'
                      << info.UncompressedSize << '\t' << crc << '\n';
        } while (zip.MoveNext());
        zip.Close();
        return 0;
    });
}

int ZipTest(const Arguments& args) {
    if (args.size() != 1) {
        std::cerr << "usage: torvane-tool zip test ARCHIVE\n";
        return 64;
    }
    return Guarded([&] {
        CUnzipFile zip(args[0]);
        std::vector<char> buffer(CUnzipFile::kReadBufferSize);
        do {
            zip.OpenEntry();
            while (zip.ReadEntry(buffer.data(), buffer.size()) > 0) {
            }
            zip.CloseEntry();
        } while (zip.MoveNext());
        zip.Close();
        return 0;
    });
}

int ZipExtract(const Arguments& args) {
    if (args.size() != 2) {
        std::cerr << "usage: torvane-tool zip extract ARCHIVE DIR\n";
        return 64;
    }
    std::error_code ec;
    std::filesystem::create_directories(args[1], ec);
    const GamePath root(args[1]);
    return Guarded([&] {
        CUnzipFile zip(args[0]);
        std::vector<char> buffer(kExtractPiece);
        std::filesystem::path createdDirectory;
        int status = 0;
        do {
            EntryInfo info;
            zip.GetEntryInfo(&info);
            std::string name = zip.GetEntryName();
            const bool directory = IsDirectoryName(name);
            if (directory) name.pop_back();
            const auto target = root.Resolve(name);
            if (!target) {
                std::cerr << "refusing unsafe name: " << name << "\n";
                status = 1;
                continue;
            }
            if (directory) {
                root.CreateDirectories(*target, ec);
                continue;
            }
            // Entries come grouped by directory: the same parent is not looked up again.
            if (target->parent_path() != createdDirectory) {
                root.CreateDirectories(target->parent_path(), ec);
                createdDirectory = target->parent_path();
            }
            CFile output;
            if (!output.Open(target->string(), CFile::modeCreate)) {
                // An earlier read-only copy must not stop the new one from being written.
                if (output.LastError() != EACCES || ::chmod(target->c_str(), 0644) != 0 ||
                    !output.Open(target->string(), CFile::modeCreate))
                    throw CFileException(target->string(), output.LastError(), "create");
            }
            zip.OpenEntry();
            for (;;) {
                const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
                if (got > 0) output.Write(buffer.data(), got);
                if (got < buffer.size()) break;
            }
            CUnzipFile::ApplyEntryStatus(output, info);
            // Known to the resolver from now on: the next name in this directory is found
            // without reading the directory again (which made extraction quadratic).
            root.NoteCreated(*target);
        } while (zip.MoveNext());
        zip.Close();
        return status;
    });
}
