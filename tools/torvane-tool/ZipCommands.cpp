// zip list / test / extract through the launcher's own zip reader.

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <system_error>
#include <thread>
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
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
    }
    return 2;
}

// Large pieces: fewer system calls for big entries, still within the cache.
constexpr std::size_t kExtractPiece = 256 * 1024;

bool IsDirectoryName(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

// Threads extracting one archive at most: more would only compete for the disk.
constexpr unsigned kMostExtractThreads = 4;

// Which thread extracts an entry. Names that differ only in letter case (or in the kind of
// slash) resolve to one file, so they go to one thread, which writes them in archive order:
// the later entry wins, as it does when one thread extracts everything.
unsigned ShareOf(const std::string& name, unsigned shares) {
    std::string folded = name;
    for (char& c : folded) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    while (!folded.empty() && folded.back() == '/') folded.pop_back();
    return static_cast<unsigned>(std::hash<std::string>{}(folded) % shares);
}

// What ended one extracting thread early.
struct ExtractFailure {
    std::exception_ptr Error;
    std::uint64_t Entry = 0;
};

// Writes the current entry of `zip` over `target` (in place, like the standard extractors)
// and stamps it with the entry's time and read-only bit.
void ExtractEntry(CUnzipFile& zip, const std::filesystem::path& target, std::vector<char>& buffer) {
    EntryInfo info;
    zip.GetEntryInfo(&info);
    CFile output;
    if (!output.Open(target.string(), CFile::modeCreate)) {
        // An earlier read-only copy must not stop the new one from being written.
        if (output.LastError() != EACCES || ::chmod(target.c_str(), 0644) != 0 ||
            !output.Open(target.string(), CFile::modeCreate))
            throw CFileException(target.string(), output.LastError(), "create");
    }
    zip.OpenEntry();
    for (;;) {
        const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
        if (got > 0) output.Write(buffer.data(), got);
        if (got < buffer.size()) break;
    }
    CUnzipFile::ApplyEntryStatus(output, info);
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
    GamePath root(args[1]);
    return Guarded([&] {
        // Inflating is what the time goes on: the entries are shared out among threads with
        // readers of their own. Looking names up and making directories is shared state,
        // done under the lock; writing a file is not.
        const unsigned shares =
            std::clamp(std::thread::hardware_concurrency(), 1u, kMostExtractThreads);
        std::mutex lock;
        std::atomic<bool> quit{false};
        std::atomic<int> status{0};
        std::vector<ExtractFailure> failures(shares);
        auto extractShare = [&](unsigned share) {
            std::uint64_t entry = 0;
            try {
                CUnzipFile zip(args[0]);
                std::vector<char> buffer(kExtractPiece);
                std::filesystem::path createdDirectory;
                do {
                    entry = zip.EntryIndex();
                    std::string name = zip.GetEntryName();
                    if (ShareOf(name, shares) != share) continue;
                    const bool directory = IsDirectoryName(name);
                    if (directory) name.pop_back();
                    std::unique_lock<std::mutex> held(lock);
                    const auto target = root.Resolve(name);
                    if (!target) {
                        std::cerr << "refusing unsafe name: " << name << "\n";
                        status = 1;
                        continue;
                    }
                    std::error_code ignored;
                    if (directory) {
                        root.CreateDirectories(*target, ignored);
                        continue;
                    }
                    // Entries come grouped by directory: the same parent is not looked up
                    // again.
                    if (target->parent_path() != createdDirectory) {
                        root.CreateDirectories(target->parent_path(), ignored);
                        createdDirectory = target->parent_path();
                    }
                    held.unlock();
                    ExtractEntry(zip, *target, buffer);
                    // Known to the resolver from now on: the next name in this directory is
                    // found without reading the directory again (which made extraction
                    // quadratic).
                    held.lock();
                    root.NoteCreated(*target);
                } while (!quit && zip.MoveNext());
                zip.Close();
            } catch (...) {
                failures[share] = {std::current_exception(), entry};
                quit = true;
            }
        };
        {
            std::vector<std::jthread> threads;
            for (unsigned share = 1; share < shares; ++share) {
                try {
                    threads.emplace_back(extractShare, share);
                } catch (const std::system_error&) {
                    // A share without its thread would never be extracted.
                    failures[share] = {std::current_exception(), 0};
                    quit = true;
                    break;
                }
            }
            extractShare(0);
        }
        // The failure at the earliest entry is the one reported: the same archive gives the
        // same answer whatever the number of threads.
        const ExtractFailure* first = nullptr;
        for (const ExtractFailure& failure : failures)
            if (failure.Error && (!first || failure.Entry < first->Entry)) first = &failure;
        if (first) std::rethrow_exception(first->Error);
        return status.load();
    });
}
