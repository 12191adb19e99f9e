#include "app/CommandLine.h"

#include <cstdint>
#include <string>
#include <vector>

#include "app/LauncherState.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The whitespace-delimited tokens of `text`, at most `limit` of them.
std::vector<std::string_view> Tokens(std::string_view text, std::size_t limit) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (tokens.size() < limit) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i == text.size()) break;
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        tokens.push_back(text.substr(start, i - start));
    }
    return tokens;
}

// Leading-digits conversion in the manner of atoi: optional sign, then digits; the value
// wraps instead of overflowing, which keeps its low 8 bits exact.
std::uint32_t LeadingNumber(std::string_view piece) {
    std::size_t i = 0;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) negative = piece[i++] == '-';
    std::uint32_t value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i)
        value = value * 10u + static_cast<std::uint32_t>(piece[i] - '0');
    return negative ? 0u - value : value;
}

// Splits at '.', with runs of separators counting as one and empty pieces dropped.
std::vector<std::string_view> VersionPieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == '.') ++i;
        if (i == text.size()) break;
        const std::size_t start = i;
        while (i < text.size() && text[i] != '.') ++i;
        pieces.push_back(text.substr(start, i - start));
    }
    return pieces;
}

}  // namespace

void ApplyCommandLineSwitches(std::string_view commandLine, LauncherState& state) {
    const auto tokens = Tokens(commandLine, 2);
    if (tokens.empty()) return;
    if (tokens[0] == "/t") {
        state.LaunchMode = kLaunchTestClient;
        state.TestServer = 1;
    } else if (tokens[0] == "/r") {
        state.LaunchMode = kLaunchNormal;
        state.TestServer = 0;
    } else if (tokens[0] == "/l") {
        const auto pieces =
            tokens.size() > 1 ? VersionPieces(tokens[1]) : std::vector<std::string_view>{};
        for (std::size_t i = 0; i < 3; ++i) {
            state.CommandLineVersion[i] =
                i < pieces.size() ? static_cast<std::uint8_t>(LeadingNumber(pieces[i])) : 0;
        }
        state.LaunchMode = kLaunchGivenVersion;
    }
}
