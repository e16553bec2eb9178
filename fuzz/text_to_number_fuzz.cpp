// Fuzzes the window's number/text conversions.
//
// Input: byte 0 picks the decimal separator ('.' or ','); the rest is a value
// text as the user could type it. When the input holds at least nine bytes,
// bytes 1..8 are also taken as the bit pattern of a double to format.
//
// Oracles are the C library in the "C" locale (the fuzzer never sets one):
// strtod is correctly rounded, and printf rounds exactly from the binary value.
// - TextToNumber: a text of the accepted grammar gives strtod's double (or, out
//   of range, "Floating point overflow"); any other text gives exactly
//   "'<text>' is not a valid floating point value".
// - NumberToText(x) reads back as the double nearest x rounded to 15
//   significant digits ("%.14e"); so an x that 15 digits hold exactly comes
//   back unchanged. NumberToExponentText and TickLabelText read back as x
//   rounded to 3 digits ("%.2e"); ExportNumberText is "%.6g".
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"
#include "fuzz/fuzz_check.h"

namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The accepted grammar, written out independently: blanks, [sign], digits,
// [separator digits], [(E|e) [sign] digits], blanks. Returns the text for
// strtod ('.' separator, no blanks) or an empty string when not accepted.
std::string Normalised(const std::string& text, char separator) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  std::string out;
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) out += text[i++];
  const std::size_t digits = i;
  while (i < n && IsDigit(text[i])) out += text[i++];
  if (i == digits) return "";
  if (i < n && text[i] == separator) {
    out += '.';
    const std::size_t fraction = ++i;
    while (i < n && IsDigit(text[i])) out += text[i++];
    if (i == fraction) return "";
  }
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    out += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) out += text[i++];
    const std::size_t exponent = i;
    while (i < n && IsDigit(text[i])) out += text[i++];
    if (i == exponent) return "";
  }
  while (i < n && text[i] == ' ') ++i;
  return i == n ? out : "";
}

// The double nearest x rounded to `digits` significant decimal digits.
double Rounded(double x, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, x);
  return std::strtod(text, nullptr);
}

void CheckText(const std::string& text, char separator) {
  const std::string accepted = Normalised(text, separator);
  try {
    const double value = TextToNumber(text, separator);
    FUZZ_CHECK(!accepted.empty());
    FUZZ_CHECK(std::isfinite(value));
    const double expected = std::strtod(accepted.c_str(), nullptr);
    if (!SameBits(value, expected))
      std::fprintf(stderr, "'%s' gave %.17g, strtod %.17g\n", text.c_str(), value, expected);
    FUZZ_CHECK(SameBits(value, expected));
  } catch (const TError& e) {
    const std::string message = e.what();
    // what() is a C string: a text holding a NUL shows up to it.
    std::string invalid = "'" + text + "' is not a valid floating point value";
    invalid.resize(std::strlen(invalid.c_str()));
    if (accepted.empty()) {
      FUZZ_CHECK(message == invalid);
    } else {
      // Accepted by the grammar, so refused only for being out of range.
      FUZZ_CHECK(std::isinf(std::strtod(accepted.c_str(), nullptr)));
      FUZZ_CHECK(message == FloatOverflowMessage || message == invalid);
    }
  }
}

// `text` must read back as `expected`; a rounding past the largest double
// (x near 1.8e308 rounded up to 15 or 3 digits) reads back as an overflow.
void CheckReadBack(const std::string& text, char separator, double expected) {
  try {
    const double value = TextToNumber(text, separator);
    FUZZ_CHECK(SameBits(value, expected) || (value == 0.0 && expected == 0.0));
  } catch (const TError& e) {
    FUZZ_CHECK(std::isinf(expected));
    FUZZ_CHECK(std::strcmp(e.what(), FloatOverflowMessage) == 0);
  }
}

void CheckFormats(double x, char separator) {
  const std::string general = NumberToText(x, separator);
  const std::string exponent = NumberToExponentText(x, separator);
  const std::string tick = TickLabelText(x, separator);
  const std::string exported = ExportNumberText(x);
  FUZZ_CHECK(!general.empty() && !exponent.empty() && !tick.empty() && !exported.empty());
  if (!std::isfinite(x)) return;

  // 15 significant digits, an optional sign, separator and exponent: short.
  FUZZ_CHECK(general.size() <= 24);
  FUZZ_CHECK(general.find(separator == '.' ? ',' : '.') == std::string::npos);
  const double general15 = x == 0.0 ? 0.0 : Rounded(x, 15);
  CheckReadBack(general, separator, general15);
  if (general15 == x) FUZZ_CHECK(TextToNumber(general, separator) == x);
  // Once read back, the text is a fixed point of the round trip.
  if (std::isfinite(general15)) FUZZ_CHECK(NumberToText(general15, separator) == general);

  // d<sep>ddE<sign>digits
  FUZZ_CHECK(exponent.size() >= 7 && exponent.size() <= 11);
  const std::size_t lead = exponent[0] == '-' ? 1 : 0;
  FUZZ_CHECK(exponent[lead + 1] == separator && exponent[lead + 4] == 'E');
  FUZZ_CHECK(exponent[lead + 5] == '+' || exponent[lead + 5] == '-');
  const double three = x == 0.0 ? 0.0 : Rounded(x, 3);
  CheckReadBack(exponent, separator, three);
  CheckReadBack(tick, separator, three);

  char printed[64];
  std::snprintf(printed, sizeof printed, "%.6g", x);
  FUZZ_CHECK(exported == printed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char separator = (data[0] & 1) ? ',' : '.';
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  CheckText(text, separator);
  if (size >= 9) {
    double x;
    std::memcpy(&x, data + 1, sizeof x);
    CheckFormats(x, separator);
    CheckFormats(x, separator == '.' ? ',' : '.');
  }
  return 0;
}
