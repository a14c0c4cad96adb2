// The formatter's number settings from the process locale: the Linux stand-in of
// GetLocaleInfoA, its currency layout numbers, and RegionalFormat as made at load of the
// locale's values.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/windows.h"
#include "procs/format/format_engine.h"
#include "runtime/locale_values.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {
namespace {

std::string LocaleInfo(LCTYPE type) {
  char buffer[64] = {};
  int length = GetLocaleInfoA(GetThreadLocale(), type, buffer, sizeof buffer);
  EXPECT_GT(length, 0) << type;
  return buffer;
}

TEST(CurrencyLayoutTest, PositivePlacements) {
  EXPECT_EQ(winplatform::PositiveCurrencyLayout(1, 0), 0);  // $1.1
  EXPECT_EQ(winplatform::PositiveCurrencyLayout(0, 0), 1);  // 1.1$
  EXPECT_EQ(winplatform::PositiveCurrencyLayout(1, 1), 2);  // $ 1.1
  EXPECT_EQ(winplatform::PositiveCurrencyLayout(0, 1), 3);  // 1.1 $
  EXPECT_EQ(winplatform::PositiveCurrencyLayout(0, 2), 3);
  EXPECT_EQ(winplatform::PositiveCurrencyLayout(CHAR_MAX, CHAR_MAX), 0);
}

TEST(CurrencyLayoutTest, NegativePlacementsOfKnownLocales) {
  struct Case {
    const char* locale;
    int cs_precedes, sep_by_space, sign_posn;
    int layout;
  } cases[] = {
      {"de_DE, fr_FR: -1,1 EUR", 0, 1, 1, 8},
      {"en_US: -$1.1", 1, 0, 1, 1},
      {"ja_JP: yen then -1", 1, 0, 4, 2},
      {"nl_NL: EUR -1,1", 1, 2, 4, 12},
      {"de_CH: CHF-1.1", 1, 2, 4, 12},
      {"it_CH: CHF -1.1", 1, 1, 4, 12},
      {"parentheses, symbol first", 1, 0, 0, 0},
      {"parentheses, symbol first, space", 1, 1, 0, 14},
      {"parentheses, symbol last", 0, 0, 0, 4},
      {"parentheses, symbol last, space", 0, 1, 0, 15},
      {"sign after all, symbol first", 1, 0, 2, 3},
      {"sign after all, symbol first, space", 1, 1, 2, 11},
      {"sign before all, symbol last", 0, 0, 1, 5},
      {"sign before symbol, symbol last", 0, 0, 3, 6},
      {"sign before symbol, symbol last, space between", 0, 2, 3, 13},
      {"sign after all, symbol last", 0, 0, 2, 7},
      {"sign after all, symbol last, space", 0, 1, 2, 10},
      {"sign before all, symbol first, space", 1, 1, 1, 9},
      {"not given", CHAR_MAX, CHAR_MAX, CHAR_MAX, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(winplatform::NegativeCurrencyLayout(c.cs_precedes, c.sep_by_space, c.sign_posn),
              c.layout)
        << c.locale;
  }
}

TEST(RegionalFormatTest, TheCLocaleStandsForEnUs) {
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  EXPECT_EQ(LocaleInfo(LOCALE_SDECIMAL), ".");
  EXPECT_EQ(LocaleInfo(LOCALE_STHOUSAND), ",");
  EXPECT_EQ(LocaleInfo(LOCALE_SCURRENCY), "$");
  EXPECT_EQ(LocaleInfo(LOCALE_ICURRDIGITS), "2");
  EXPECT_EQ(LocaleInfo(LOCALE_ICURRENCY), "0");
  EXPECT_EQ(LocaleInfo(LOCALE_INEGCURR), "0");
  RegionalFormat s = RegionalFormatOf(ReadLocaleValues());
  EXPECT_EQ(s.decimal_separator, u'.');
  EXPECT_EQ(s.thousand_separator, u',');
  EXPECT_EQ(s.currency_symbol, u"$");
  EXPECT_EQ(s.currency_decimals, 2);
  EXPECT_EQ(s.positive_currency_format, 0);
  EXPECT_EQ(s.negative_currency_format, 0);
}

// A locale compiled from the system's locale sources, kept below the temporary directory so
// that later runs find it ready; the directory to put in LOCPATH, or nothing.
std::optional<std::string> CompiledLocale(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / "dunmarrow-test-locales";
  fs::path ready = root / (name + ".UTF-8");
  std::error_code ec;
  if (!fs::exists(ready / "LC_MONETARY", ec)) {
    if (!fs::exists("/usr/share/i18n/locales/" + name, ec)) return std::nullopt;
    fs::create_directories(root, ec);
    fs::path staging = root / (name + ".staging." + std::to_string(::getpid()));
    std::string command =
        "localedef -i " + name + " -f UTF-8 '" + staging.string() + "' >/dev/null 2>&1";
    int ignored = std::system(command.c_str());  // warnings give 1 with a usable locale
    (void)ignored;
    if (!fs::exists(staging / "LC_MONETARY", ec)) return std::nullopt;
    fs::rename(staging, ready, ec);  // a parallel run may have been first
    fs::remove_all(staging, ec);
  }
  return root.string();
}

TEST(RegionalFormatTest, GermanLocaleGivesItsSeparatorsAndLayouts) {
  auto path = CompiledLocale("de_DE");
  if (!path) GTEST_SKIP() << "de_DE locale sources or localedef not available";
  setenv("LOCPATH", path->c_str(), 1);
  bool set = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  unsetenv("LOCPATH");
  if (!set) GTEST_SKIP() << "de_DE.UTF-8 cannot be set";
  EXPECT_EQ(LocaleInfo(LOCALE_SDECIMAL), ",");
  EXPECT_EQ(LocaleInfo(LOCALE_STHOUSAND), ".");
  EXPECT_EQ(LocaleInfo(LOCALE_SCURRENCY), "\xE2\x82\xAC");
  EXPECT_EQ(LocaleInfo(LOCALE_ICURRDIGITS), "2");
  EXPECT_EQ(LocaleInfo(LOCALE_ICURRENCY), "3");
  EXPECT_EQ(LocaleInfo(LOCALE_INEGCURR), "8");
  RegionalFormat german = RegionalFormatOf(ReadLocaleValues());
  std::vector<FormatArg> args = {FormatArg::Float(1234567.891), FormatArg::Float(-1234.5),
                                 FormatArg::Currency(12345000)};
  std::u16string text = FormatWideText(u"%n|%m|%m|%0:g", args, german);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text, u"1.234.567,89|-1.234,50 \u20AC|1.234,50 \u20AC|1234567,891");
}

}  // namespace
}  // namespace dunmarrow::test
