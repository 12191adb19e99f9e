#include "net/MessageFormat.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageFormat, OneIntegerConversionIsFilledIn) {
    EXPECT_EQ(FormatWithNumber("socket error %d", 24), "socket error 24");
    EXPECT_EQ(FormatWithNumber("[%05x] 100%%", 255), "[000ff] 100%");
    EXPECT_EQ(FormatWithNumber("no number here 50%%", 3), "no number here 50%");
}

TEST(MessageFormat, TextsThatAreNotSafeFormatsAreShownAsTheyStand) {
    EXPECT_EQ(FormatWithNumber("bad %s", 5), "bad %s 5");
    EXPECT_EQ(FormatWithNumber("%n%d", 5), "%n%d 5");
    EXPECT_EQ(FormatWithNumber("%d and %d", 5), "%d and %d 5");
    EXPECT_EQ(FormatWithNumber("%*d", 5), "%*d 5");
    EXPECT_EQ(FormatWithNumber("%ld", 5), "%ld 5");
    EXPECT_EQ(FormatWithNumber("trailing %", 5), "trailing % 5");
    EXPECT_EQ(FormatWithNumber("%999999999d", 5), "%999999999d 5");
    EXPECT_EQ(FormatWithNumber(std::string("a\0%s", 4), 1), std::string("a\0%s 1", 6));
}

}  // namespace
