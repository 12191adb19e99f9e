#pragma once
// Directory listings as FTP servers send them, turned into names and sizes.
//
// Three formats are understood: machine listings (MLSD, "fact=value;...; name"), Unix "ls -l"
// lines and DOS/IIS lines ("12-05-26  10:15AM  <DIR>  Data"). Lines that match none of them
// (totals, banners, garbage) are skipped. The parser reads untrusted bytes: it never reads
// past the text it is given and never fails.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FtpFindData {
    std::string Name;
    std::uint64_t Size = 0;
    bool IsDirectory = false;
};

enum class FtpListingFormat { Machine, List };

// Parses a whole listing. Machine: MLSD lines only; List: Unix or DOS lines, detected per line.
std::vector<FtpFindData> ParseFtpListing(std::string_view text, FtpListingFormat format);

// One line (without its line break); false when the line describes no entry.
bool ParseMlsdLine(std::string_view line, FtpFindData* entry);
bool ParseUnixListLine(std::string_view line, FtpFindData* entry);
bool ParseDosListLine(std::string_view line, FtpFindData* entry);

// The size in a reply to SIZE ("213 1234"), or -1 when the line is no such reply or the
// number does not fit.
std::int64_t ParseFtpSizeReply(std::string_view line);
