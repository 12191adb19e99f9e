// The default English text table: a text for every number the launcher looks up, and the
// two texts used as printf formats keep exactly the conversions their callers pass.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "support/TestSupport.h"

namespace {

std::map<int, std::string> ReadTexts() {
    std::map<int, std::string> texts;
    std::ifstream in(testsupport::SourcePath("assets/messages/en.txt"));
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        texts[std::stoi(line.substr(0, tab))] = line.substr(tab + 1);
    }
    return texts;
}

// The printf conversions of a text ("%%" is no conversion).
std::string Conversions(const std::string& text) {
    std::string found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (text[i + 1] == '%') {
            ++i;
            continue;
        }
        found += text.substr(i, 2);
    }
    return found;
}

TEST(DefaultTexts, EveryLookedUpNumberHasAText) {
    const auto texts = ReadTexts();
    const int needed[] = {13,  102, 107, 108, 109, 112, 113, 114, 116, 119, 120,  121,  122,
                          123, 125, 126, 127, 128, 129, 131, 132, 133, 134, 135,  136,  137,
                          138, 141, 142, 143, 144, 145, 146, 151, 200, 201, 2000, 2001, 2003};
    for (int number : needed) {
        auto it = texts.find(number);
        ASSERT_NE(it, texts.end()) << number;
        EXPECT_FALSE(it->second.empty()) << number;
        EXPECT_LE(it->second.size(), 255u) << number;  // a record holds at most 255 bytes
    }
    for (int link : {2000, 2001, 2003}) EXPECT_EQ(texts.at(link).rfind("http", 0), 0u) << link;
}

TEST(DefaultTexts, FormatTextsKeepTheirConversions) {
    const auto texts = ReadTexts();
    EXPECT_EQ(Conversions(texts.at(143)), "%d");  // one integer: the socket error code
    EXPECT_EQ(Conversions(texts.at(136)), "");    // shown as a format with no argument
    for (const auto& [number, text] : texts) {
        if (number == 143) continue;
        EXPECT_EQ(Conversions(text), "") << number << ": " << text;
    }
}

}  // namespace
