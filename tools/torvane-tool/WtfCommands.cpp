// wtf build / dump / get: message tables from and to "NUMBER<TAB>TEXT" lines in UTF-8.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "Commands.h"
#include "ToolText.h"
#include "net/MessageFormat.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "text/MessageNumbers.h"
#include "text/MessageTable.h"
#include "text/MessageTableWriter.h"

namespace {

constexpr const char* kDefaultCodePage = "CP949";

// Removes "--codepage CP" from `args`; nullopt (after a message) when it is malformed.
std::optional<std::string> TakeCodePage(Arguments& args) {
    std::string codePage = kDefaultCodePage;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--codepage") continue;
        if (i + 1 >= args.size()) {
            std::cerr << "--codepage needs a value\n";
            return std::nullopt;
        }
        codePage = args[i + 1];
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(i + 2));
        break;
    }
    if (!CodePageKnown(codePage)) {
        std::cerr << "unknown code page: " << codePage << "\n";
        return std::nullopt;
    }
    return codePage;
}

std::optional<long> ParseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return value;
}

// Loads `path` into `table`, printing the loader's boxes on stderr. False when the file gave
// no table at all (missing or a rejected header).
bool LoadTable(CMessageTable& table, const std::string& path, const std::string& codePage) {
    bool boxShown = false;
    table.SetMessageBoxFunction(
        [&](const std::string& text, const std::string& caption, MessageBoxIcon) {
            boxShown = true;
            std::cerr << caption << ": " << DecodeToUtf8(text, codePage) << "\n";
        });
    table.Load(path);
    return table.FirstRecord() != nullptr || !boxShown;
}

// The texts the launcher fills in with printf, and what it fills in. Every other text is shown
// as it stands, so a '%' in it is only a character.
struct FilledText {
    int Number;
    bool (*Accepts)(const std::string& text);
    const char* Needs;
};
const FilledText kFilledTexts[] = {
    {kMsgSocketFailed, TakesOneNumber,
     "one integer conversion (%d, %i, %u, %x, %X, %o or %c; flags and a width up to 256 are "
     "allowed, '*' and length modifiers are not) for the system's error number"},
};

// Why `text` (in the table's code page) does not suit message `number`; empty when it does.
std::string FormatProblem(int number, const std::string& text) {
    for (const FilledText& filled : kFilledTexts) {
        if (filled.Number == number && !filled.Accepts(text)) {
            return "message " + std::to_string(number) + " needs exactly " + filled.Needs +
                   " (write a literal percent sign as %%)";
        }
    }
    return {};
}

}  // namespace

int WtfBuild(const Arguments& given) {
    Arguments args = given;
    const auto codePage = TakeCodePage(args);
    if (!codePage) return 64;
    if (args.size() != 2) {
        std::cerr << "usage: torvane-tool wtf build SRC DEST [--codepage CP]\n";
        return 64;
    }
    std::ifstream source(args[0], std::ios::binary);
    if (!source) {
        std::cerr << "cannot open " << args[0] << "\n";
        return 1;
    }
    CMessageTableWriter writer;
    std::string line;
    int lineNumber = 0;
    bool ok = true;
    auto complain = [&](const std::string& what) {
        std::cerr << args[0] << ":" << lineNumber << ": " << what << "\n";
        ok = false;
    };
    while (std::getline(source, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto tab = line.find('\t');
        if (tab == std::string::npos) {
            complain("expected NUMBER<TAB>TEXT");
            continue;
        }
        const auto number = ParseNumber(line.substr(0, tab));
        if (!number || *number < -32768 || *number > 32767) {
            complain("message number must be an integer from -32768 to 32767");
            continue;
        }
        const auto text = Unescape(std::string_view(line).substr(tab + 1));
        if (!text) {
            complain("unknown escape (use \\n, \\t or \\\\)");
            continue;
        }
        const auto encoded = EncodeStrict(*text, *codePage);
        if (!encoded) {
            complain("text cannot be written in " + *codePage);
            continue;
        }
        if (const std::string problem = FormatProblem(static_cast<int>(*number), *encoded);
            !problem.empty()) {
            complain(problem);
            continue;
        }
        if (!writer.Add(static_cast<int>(*number), *encoded))
            complain("text must be 1 to 255 bytes in " + *codePage + " without NUL");
    }
    if (!ok) return 1;
    if (writer.Size() == 0) {
        std::cerr << args[0] << ": no records\n";
        return 1;
    }
    if (!WriteFileAtomically(args[1], writer.Serialize())) {
        std::cerr << "cannot write " << args[1] << "\n";
        return 1;
    }
    return 0;
}

int WtfDump(const Arguments& given) {
    Arguments args = given;
    const auto codePage = TakeCodePage(args);
    if (!codePage) return 64;
    if (args.size() != 1) {
        std::cerr << "usage: torvane-tool wtf dump FILE [--codepage CP]\n";
        return 64;
    }
    CMessageTable table;
    const bool loaded = LoadTable(table, args[0], *codePage);
    for (const MessageNode* node = table.FirstRecord(); node; node = node->Next)
        std::cout << node->Number << '\t' << Escape(DecodeToUtf8(node->Text, *codePage)) << '\n';
    return loaded ? 0 : 1;
}

int WtfGet(const Arguments& given) {
    Arguments args = given;
    const auto codePage = TakeCodePage(args);
    if (!codePage) return 64;
    const auto number = args.size() == 2 ? ParseNumber(args[1]) : std::nullopt;
    if (!number || *number < INT32_MIN || *number > INT32_MAX) {
        std::cerr << "usage: torvane-tool wtf get FILE N [--codepage CP]\n";
        return 64;
    }
    CMessageTable table;
    const bool loaded = LoadTable(table, args[0], *codePage);
    std::cout << DecodeToUtf8(table.GetText(static_cast<int>(*number)), *codePage) << '\n';
    return loaded ? 0 : 1;
}
