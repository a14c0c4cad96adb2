// ASCII letter case: only A-Z and a-z fold, at the edges of the two ranges and above 0x7F too.
#include "runtime/ascii.h"

#include <gtest/gtest.h>

namespace dunmarrow::test {
namespace {

TEST(AsciiCaseTest, FoldsLettersOnly) {
  EXPECT_EQ(AsciiLower(std::string_view("@AZ[`az{")), "@az[`az{");
  EXPECT_EQ(AsciiLower('\xC1'), '\xC1');        // a byte of 8-bit text, a negative char
  EXPECT_EQ(AsciiLower(u'\u00C1'), u'\u00C1');  // no letter of ASCII
  EXPECT_EQ(AsciiLower(static_cast<char16_t>(u'Z' + 0x100)), u'Z' + 0x100);
  EXPECT_TRUE(EqualsIgnoreAsciiCase("rC4", "RC4"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("RC", "RC4"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("[", "{"));  // 0x20 apart, as the letters are
}

}  // namespace
}  // namespace dunmarrow::test
