// Number/text conversions of the parameter tables, the chart tick labels and
// the export files.
#include "Session/Conversions.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/DoubleChars.h"

namespace {

// The message of the TError that TextToNumber throws, or "" when it accepts.
std::string RejectionOf(const std::string& text, char separator) {
  try {
    TextToNumber(text, separator);
  } catch (const TError& error) {
    return error.what();
  }
  return "";
}

std::string NotAFloat(const std::string& text) {
  return "'" + text + "' is not a valid floating point value";
}

struct TTextCase {
  double value;
  const char* point;  // with '.' as separator
  const char* comma;  // with ','
};

}  // namespace

TEST(NumberToText, TableDefaultsWithBothSeparators) {
  const TTextCase cases[] = {
      {1e-5, "1E-5", "1E-5"},
      {1e-6, "1E-6", "1E-6"},
      {0.001, "0.001", "0,001"},
      {293.15, "293.15", "293,15"},
      {0.0001, "0.0001", "0,0001"},
      {7.2e20, "7.2E20", "7,2E20"},
      {1.5e-9, "1.5E-9", "1,5E-9"},
      {1.43e-10, "1.43E-10", "1,43E-10"},
      {-293.15, "-293.15", "-293,15"},
      {100, "100", "100"},
      {1.2e-4, "0.00012", "0,00012"},
      {1.2e-5, "1.2E-5", "1,2E-5"},
      {1e15, "1E15", "1E15"},
      {1e15 - 1, "999999999999999", "999999999999999"},
      {123456.5, "123456.5", "123456,5"},
      {-7.2e-20, "-7.2E-20", "-7,2E-20"},
  };
  for (const TTextCase& c : cases) {
    EXPECT_EQ(NumberToText(c.value, '.'), c.point) << c.value;
    EXPECT_EQ(NumberToText(c.value, ','), c.comma) << c.value;
  }
}

TEST(NumberToText, RoundsToFifteenDigits) {
  EXPECT_EQ(NumberToText(0.0, '.'), "0");
  EXPECT_EQ(NumberToText(-0.0, '.'), "0");
  EXPECT_EQ(NumberToText(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(NumberToText(1.0 / 3.0, '.'), "0.333333333333333");
  EXPECT_EQ(NumberToText(123456789012345678.0, '.'), "1.23456789012346E17");
  // Rounding up carries into a new leading digit and across the fixed limit.
  EXPECT_EQ(NumberToText(999999999999999.9, '.'), "1E15");
  EXPECT_EQ(NumberToText(DBL_MAX, '.'), "1.79769313486232E308");
  EXPECT_EQ(NumberToText(5e-324, '.'), "4.94065645841247E-324");
}

TEST(NumberToExponentText, ThreeDigitsAndSignedExponent) {
  EXPECT_EQ(NumberToExponentText(1.5e-9, '.'), "1.50E-9");
  EXPECT_EQ(NumberToExponentText(1.43e-10, '.'), "1.43E-10");
  EXPECT_EQ(NumberToExponentText(2.5e20, '.'), "2.50E+20");
  EXPECT_EQ(NumberToExponentText(1.5e-9, ','), "1,50E-9");
  EXPECT_EQ(NumberToExponentText(2.5e20, ','), "2,50E+20");
  EXPECT_EQ(NumberToExponentText(0.0, '.'), "0.00E+0");
  EXPECT_EQ(NumberToExponentText(0.0, ','), "0,00E+0");
  EXPECT_EQ(NumberToExponentText(1.0, '.'), "1.00E+0");
  EXPECT_EQ(NumberToExponentText(9.996, '.'), "1.00E+1");
  EXPECT_EQ(NumberToExponentText(-1.4349e-10, '.'), "-1.43E-10");
}

TEST(TextToNumber, AcceptsTheGrammar) {
  EXPECT_EQ(TextToNumber("1e-6", '.'), 1e-6);
  EXPECT_EQ(TextToNumber("1E-6", '.'), 1e-6);
  EXPECT_EQ(TextToNumber("  293.15  ", '.'), 293.15);
  EXPECT_EQ(TextToNumber("293,15", ','), 293.15);
  EXPECT_EQ(TextToNumber(" -7,2E+20 ", ','), -7.2e20);
  EXPECT_EQ(TextToNumber("+5", '.'), 5.0);
  EXPECT_EQ(TextToNumber("0001.2500e0003", '.'), 1250.0);
  EXPECT_EQ(TextToNumber("0", '.'), 0.0);
  EXPECT_TRUE(std::signbit(TextToNumber("-0", '.')));
}

TEST(TextToNumber, RejectsOtherTextWithTheTextAsRead) {
  const char* const badWithPoint[] = {
      "",    " ",   "293,15", "1,000.5", "1 000", ".5",  "5.",    "1e",   "1e+",
      "e5",  "abc", "--1",    "+-1",     "1.2.3", "inf", "nan",   "0x10", "1e5x",
      "\t1", "1\t", "1 e5",   "1e 5",    "1d5",   "- 1", "1.5 x", "１",
  };
  for (const char* text : badWithPoint) EXPECT_EQ(RejectionOf(text, '.'), NotAFloat(text)) << text;
  // With ',' as separator the '.' is foreign, and thousands groups are too.
  for (const char* text : {"293.15", "1.000,5", "1,", ",5", " 0.001 "}) {
    EXPECT_EQ(RejectionOf(text, ','), NotAFloat(text)) << text;
  }
  EXPECT_EQ(RejectionOf("", ','), "'' is not a valid floating point value");
}

TEST(TextToNumber, OverflowAndUnderflow) {
  for (const char* text : {"1e309", "-2e308", "1.8e308", "1.7976931348623159e308",
                           "1e99999999999999999999999", "1000000000e300"}) {
    EXPECT_EQ(RejectionOf(text, '.'), FloatOverflowMessage) << text;
  }
  EXPECT_EQ(TextToNumber("1.7976931348623157e308", '.'), DBL_MAX);
  EXPECT_EQ(TextToNumber("1e-400", '.'), 0.0);
  EXPECT_EQ(TextToNumber("1e-99999999999999999999999", '.'), 0.0);
  EXPECT_EQ(TextToNumber("4.9406564584124654e-324", '.'), 5e-324);
  EXPECT_EQ(TextToNumber("0e99999999999999999999999", '.'), 0.0);
  // Digits far beyond the exponent limit still scale the value correctly.
  EXPECT_EQ(TextToNumber("0." + std::string(500, '0') + "1e502", '.'), 10.0);
  EXPECT_EQ(TextToNumber("1" + std::string(400, '0') + "e-400", '.'), 1.0);
}

TEST(TextToNumber, CorrectlyRounded) {
  EXPECT_EQ(TextToNumber("0.1", '.'), 0.1);
  EXPECT_EQ(TextToNumber("0.1000000000000000055511151231257827021181583404541015625", '.'), 0.1);
  EXPECT_EQ(TextToNumber("2.2250738585072011e-308", '.'), 2.2250738585072011e-308);
  EXPECT_EQ(TextToNumber("9007199254740993", '.'), 9007199254740992.0);  // tie to even
  EXPECT_EQ(TextToNumber("9007199254740993.0000000000000001", '.'), 9007199254740994.0);
}

TEST(Conversions, RoundTrips) {
  const double values[] = {1e-5,         1e-6,     0.001, 293.15,   0.0001, 7.2e20,
                           1.5e-9,       1.43e-10, -3.25, 1e15 - 1, 1e15,   123.456789012345,
                           6.02214076e23};
  for (double value : values) {
    for (char separator : {'.', ','}) {
      const std::string text = NumberToText(value, separator);
      EXPECT_EQ(TextToNumber(text, separator), value) << text;
      EXPECT_EQ(NumberToText(TextToNumber(text, separator), separator), text);
    }
  }
  EXPECT_EQ(TextToNumber(NumberToExponentText(1.43e-10, ','), ','), 1.43e-10);
  EXPECT_EQ(TextToNumber(NumberToExponentText(2.5e20, '.'), '.'), 2.5e20);
}

TEST(TickLabelText, Pattern) {
  const TTextCase cases[] = {
      {0, "0E0", "0E0"},
      {1, "1E0", "1E0"},
      {720, "7.2E2", "7,2E2"},
      {7.2e20, "7.2E20", "7,2E20"},
      {0.0005, "5E-4", "5E-4"},
      {0.000123, "1.23E-4", "1,23E-4"},
      {0.0001234, "1.23E-4", "1,23E-4"},
      {999.6, "1E3", "1E3"},
      {-2.5, "-2.5E0", "-2,5E0"},
      {2.0000000000000004e-4, "2E-4", "2E-4"},
      {1e-300, "1E-300", "1E-300"},
  };
  for (const TTextCase& c : cases) {
    EXPECT_EQ(TickLabelText(c.value, '.'), c.point) << c.value;
    EXPECT_EQ(TickLabelText(c.value, ','), c.comma) << c.value;
  }
}

TEST(ExportNumberText, StreamDefaultText) {
  const double threeSteps = 0.0001 + 0.0001 + 0.0001;  // 0.00030000000000000003
  struct {
    double value;
    const char* text;
  } const cases[] = {
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {1.5e-9, "1.5e-09"},
      {720, "720"},
      {threeSteps, "0.0003"},
      {123456.7, "123457"},
      {1234567, "1.23457e+06"},
      {7.2e20, "7.2e+20"},
      {6.95e20, "6.95e+20"},
      {1000005, "1e+06"},
      {1000015, "1.00002e+06"},
      {999999, "999999"},
      {0, "0"},
      {-0.0001, "-0.0001"},
      {1.23457e100, "1.23457e+100"},
      {-1e-5, "-1e-05"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExportNumberText(c.value), c.text) << c.value;
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ExportNumberText(inf), "inf");
  EXPECT_EQ(ExportNumberText(-inf), "-inf");
  EXPECT_EQ(ExportNumberText(nan), "nan");
  EXPECT_EQ(ExportNumberText(-nan), "-nan");
}

// A global C++ locale with ',' as decimal point must not leak into any text.
TEST(Conversions, IgnoreTheGlobalLocale) {
  struct TCommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new TCommaPunct));
  EXPECT_EQ(ExportNumberText(0.0003), "0.0003");
  EXPECT_EQ(ExportNumberText(1234567), "1.23457e+06");
  EXPECT_EQ(NumberToText(293.15, '.'), "293.15");
  EXPECT_EQ(NumberToText(1e15 - 1, '.'), "999999999999999");
  EXPECT_EQ(TextToNumber("293.15", '.'), 293.15);
  EXPECT_EQ(RejectionOf("293,15", '.'), NotAFloat("293,15"));
  EXPECT_EQ(TickLabelText(720, '.'), "7.2E2");
  std::locale::global(previous);
}

TEST(Conversions, LocaleSeparatorOnlyWhereItCannotBeMisread) {
  const std::pair<const char*, char> cases[] = {
      {".", '.'}, {",", ','}, {"'", '\''}, {"", '.'},  {"..", '.'}, {"\xd9\xab", '.'},
      {" ", '.'}, {"-", '.'}, {"+", '.'},  {"e", '.'}, {"E", '.'},  {"7", '.'}};
  for (const auto& [point, separator] : cases)
    EXPECT_EQ(UsableDecimalSeparator(point), separator) << '"' << point << '"';
  EXPECT_EQ(ExportLine(0.0001, 720), "0.0001 ; 720\r\n");
}

#if KELVANE_HAVE_FMT && KELVANE_STD_DOUBLE_CHARS
// The number texts of builds without std::to_chars for doubles ({fmt} and
// strtod, DoubleChars.h) are the standard library's bytes, on the values of
// the program's files and on many bit patterns from a fixed seed.
namespace {

std::vector<double> DoubleCharsCases() {
  std::vector<double> values = {0.0,       -0.0,   1e-5,     7.2e20,    0.0001,  0.00012,   100,
                                1e5,       1e6,    999999,   999999.5,  1234567, 123456789, 1e15,
                                1e16,      1e22,   1e23,     5e-324,    1e-320,  DBL_MAX,   DBL_MIN,
                                0.1 + 0.2, 293.15, 1.43e-10, 9.9999e-5, 0.5,     -3.25,     1e100};
  std::uint64_t bits = 0x2545F4914F6CDD1DULL;
  for (int k = 0; k < 20000; ++k) {
    bits ^= bits << 13, bits ^= bits >> 7, bits ^= bits << 17;  // xorshift64
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (std::isfinite(x)) values.push_back(x);
    values.push_back(static_cast<double>(bits % 100000000) * 1e-7);  // short decimals too
  }
  return values;
}

std::string Text(std::to_chars_result result, char* buffer) {
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : "error";
}

}  // namespace

TEST(DoubleChars, FallbackWritesTheStandardLibrarysBytes) {
  const double specials[] = {
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
  std::vector<double> values = DoubleCharsCases();
  values.insert(values.end(), std::begin(specials), std::end(specials));
  char a[128], b[128];
  for (double x : values) {
    const auto general = std::chars_format::general;
    ASSERT_EQ(Text(DoubleChars::Portable::ToChars(a, a + 128, x, general), a),
              Text(std::to_chars(b, b + 128, x, general), b));
    for (int precision : {1, 3, 6, 15}) {
      ASSERT_EQ(Text(DoubleChars::Portable::ToChars(a, a + 128, x, general, precision), a),
                Text(std::to_chars(b, b + 128, x, general, precision), b));
      ASSERT_EQ(Text(DoubleChars::Portable::ToChars(a, a + 128, x, std::chars_format::scientific,
                                                    precision),
                     a),
                Text(std::to_chars(b, b + 128, x, std::chars_format::scientific, precision), b));
    }
  }
}

TEST(DoubleChars, FallbackReadsAsTheStandardLibrary) {
  std::vector<std::string> texts = {"1e-05", "+1",  " 1",   "-0",     "1e",   "1e+",  "1.5e3x",
                                    ".5",    "5.",  ".",    "-",      "inf",  "-INF", "nan",
                                    "1e400", "0x1", "1e-5", "0e9999", "12,5", ""};
  char buffer[128];
  for (double x : DoubleCharsCases()) {
    const auto written = std::to_chars(buffer, buffer + 128, x);
    texts.emplace_back(buffer, written.ptr);
  }
  for (const std::string& text : texts) {
    const char* const end = text.data() + text.size();
    double ours = -1.0, theirs = -1.0;
    const auto a = DoubleChars::Portable::FromChars(text.data(), end, ours);
    const auto b = std::from_chars(text.data(), end, theirs);
    ASSERT_EQ(a.ec, b.ec) << text;
    if (b.ec == std::errc::invalid_argument) continue;
    ASSERT_EQ(a.ptr, b.ptr) << text;
    if (b.ec == std::errc() && !std::isnan(theirs)) {
      ASSERT_EQ(std::memcmp(&ours, &theirs, 8), 0) << text;
    }
  }
}
#endif
