#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <optional>

namespace {

// How many bytes the UTF-8 sequence at `p` spans (1 for a stray byte), at most `left`.
std::size_t Utf8SequenceLength(const char* p, std::size_t left) {
    const auto lead = static_cast<unsigned char>(*p);
    std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t n = 1;
    while (n < want && n < left && (static_cast<unsigned char>(p[n]) & 0xC0) == 0x80) ++n;
    return n;
}

// Runs `cd` over `input`. At a sequence it cannot take (EILSEQ: bad or unmappable; EINVAL: cut
// short at the end) `giveUp` is handed the rest of the input from there and the output so far:
// it returns how many bytes to skip, or nullopt to end the conversion with nullopt.
template <typename GiveUp>
std::optional<std::string> RunIconv(iconv_t cd, std::string_view input, GiveUp giveUp) {
    std::string out;
    char buffer[1024];
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (true) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = inLeft > 0 ? ::iconv(cd, &in, &inLeft, &outPtr, &outLeft)
                                         : ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, sizeof buffer - outLeft);
        if (r != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) {
                // Flush any shift state, then done.
                outPtr = buffer;
                outLeft = sizeof buffer;
                ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
                out.append(buffer, sizeof buffer - outLeft);
                break;
            }
            continue;
        }
        if (error == E2BIG) continue;
        const auto skip = giveUp(std::string_view(in, inLeft), out);
        if (!skip) return std::nullopt;
        in += *skip;
        inLeft -= *skip;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0) break;
    }
    return out;
}

// One conversion with a replacement for every byte sequence the target cannot take or the
// source does not form. `replacement` is already in the target encoding.
std::string Convert(std::string_view input, const char* to, const char* from,
                    std::string_view replacement, bool fromUtf8) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // Unknown code page: pass ASCII through, replace everything else.
        std::string out;
        for (std::size_t i = 0; i < input.size();) {
            if (static_cast<unsigned char>(input[i]) < 0x80) {
                out += input[i++];
            } else {
                out += replacement;
                i += fromUtf8 ? Utf8SequenceLength(input.data() + i, input.size() - i) : 1;
            }
        }
        return out;
    }
    // One replacement per character given up.
    const auto out = RunIconv(
        cd, input, [&](std::string_view rest, std::string& done) -> std::optional<std::size_t> {
            done += replacement;
            return fromUtf8 ? Utf8SequenceLength(rest.data(), rest.size()) : 1;
        });
    ::iconv_close(cd);
    return *out;
}

}  // namespace

std::string DecodeToUtf8(std::string_view bytes, const std::string& codePage) {
    return Convert(bytes, "UTF-8", codePage.c_str(), "\xEF\xBF\xBD", false);
}

std::string EncodeFromUtf8(std::string_view utf8, const std::string& codePage) {
    return Convert(utf8, codePage.c_str(), "UTF-8", "?", true);
}

std::size_t FitToCharacters(std::string_view bytes, std::size_t limit,
                            const std::string& codePage) {
    if (bytes.size() <= limit) return bytes.size();
    iconv_t cd = ::iconv_open("UTF-8", codePage.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return limit;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = limit;
    // The bytes just past the limit decide whether the last character is whole: convert
    // character by character and stop before one that would cross it.
    std::size_t fit = 0;
    while (fit < limit) {
        char buffer[16];
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t step = 1;
        for (; step <= 4 && fit + step <= bytes.size(); ++step) {
            in = const_cast<char*>(bytes.data() + fit);
            inLeft = step;
            outPtr = buffer;
            outLeft = sizeof buffer;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
                break;  // a whole character of `step` bytes
            }
            if (errno != EINVAL) {
                step = 1;  // not a character: the byte stands alone
                break;
            }
        }
        if (step > 4 || fit + step > bytes.size()) step = 1;
        if (fit + step > limit) break;
        fit += step;
    }
    ::iconv_close(cd);
    return fit;
}

namespace {

// iconv without replacements: nullopt at the first sequence that does not convert.
std::optional<std::string> ConvertExactly(std::string_view input, const char* to, const char* from,
                                          std::size_t* badOffset) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (badOffset) *badOffset = 0;
        return std::nullopt;
    }
    const auto out =
        RunIconv(cd, input, [&](std::string_view rest, std::string&) -> std::optional<std::size_t> {
            if (badOffset) *badOffset = input.size() - rest.size();
            return std::nullopt;
        });
    ::iconv_close(cd);
    return out;
}

}  // namespace

std::optional<std::u16string> DecodeToUtf16(std::string_view bytes, const std::string& codePage,
                                            std::size_t* badOffset) {
    const auto wide = ConvertExactly(bytes, "UTF-16LE", codePage.c_str(), badOffset);
    if (!wide) return std::nullopt;
    std::u16string text(wide->size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>((*wide)[2 * i]) |
                                        (static_cast<unsigned char>((*wide)[2 * i + 1]) << 8));
    }
    return text;
}

std::optional<std::string> EncodeFromUtf16(std::u16string_view text, const std::string& codePage,
                                           std::size_t* badOffset) {
    std::string wide;
    wide.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        wide += static_cast<char>(unit & 0xFF);
        wide += static_cast<char>(unit >> 8);
    }
    std::size_t offset = 0;
    auto bytes = ConvertExactly(wide, codePage.c_str(), "UTF-16LE", &offset);
    if (!bytes && badOffset) *badOffset = offset / 2;
    return bytes;
}
