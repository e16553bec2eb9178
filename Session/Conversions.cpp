// Number/text conversions. Everything here goes through std::to_chars and
// std::from_chars (DoubleChars.h gives the same where the library lacks them),
// which never consult the C or C++ locale: the window sets
// the process locale from the user's settings, and these texts must not follow
// it except through the explicit separator argument.
#include "Session/Conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <system_error>

#include "Diffunit/Diffunit.h"
#include "Session/DoubleChars.h"

namespace {

// A finite, non-zero |x| rounded to `significant` decimal digits:
// |x| ~= 0.d1 d2 ... dn x 10^exponent, d1 != 0, trailing zeros kept.
struct TDecimal {
  std::string digits;
  int exponent = 0;
};

// Correctly rounded (round-half-even on the exact binary value) via the
// scientific form "d.ddde+XX" of to_chars.
TDecimal RoundToDigits(double magnitude, int significant) {
  char buffer[64];
  const auto result = DoubleChars::ToChars(buffer, buffer + sizeof buffer, magnitude,
                                           std::chars_format::scientific, significant - 1);
  TDecimal decimal;
  const char* p = buffer;
  for (; p != result.ptr && *p != 'e'; ++p) {
    if (*p != '.') decimal.digits.push_back(*p);
  }
  // p points at 'e'; the exponent text is "+XX" or "-XXX".
  int scientificExponent = 0;
  std::from_chars(p + 2, result.ptr, scientificExponent);
  if (p[1] == '-') scientificExponent = -scientificExponent;
  decimal.exponent = scientificExponent + 1;  // d1.d2... x 10^e == 0.d1d2... x 10^(e+1)
  return decimal;
}

void DropTrailingZeros(std::string& digits) {
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

// Infinities and NaNs never come from the engine (it raises instead), but a
// conversion must still give something readable rather than garbage.
bool NonFiniteText(double x, std::string& text) {
  if (std::isnan(x)) {
    text = "NAN";
    return true;
  }
  if (std::isinf(x)) {
    text = x < 0 ? "-INF" : "INF";
    return true;
  }
  return false;
}

[[noreturn]] void ThrowNotAFloat(const std::string& text) {
  throw TError("'" + text + "' is not a valid floating point value");
}

// Reads decimal digits from text[pos], appending them to `digits`.
std::size_t ScanDigits(const std::string& text, std::size_t pos, std::string* digits) {
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (digits) digits->push_back(text[pos]);
    ++pos;
  }
  return pos;
}

}  // namespace

std::string NumberToText(double x, char separator) {
  std::string text;
  if (NonFiniteText(x, text)) return text;
  if (x == 0.0) return "0";  // also -0
  if (x < 0) text.push_back('-');
  TDecimal d = RoundToDigits(std::fabs(x), 15);
  DropTrailingZeros(d.digits);
  const int n = static_cast<int>(d.digits.size());
  const int e = d.exponent;
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      text += '0';
      text += separator;
      text.append(static_cast<std::size_t>(-e), '0');
      text += d.digits;
    } else {
      text += d.digits.substr(0, static_cast<std::size_t>(std::min(e, n)));
      if (n < e) text.append(static_cast<std::size_t>(e - n), '0');
      if (n > e) {
        text += separator;
        text += d.digits.substr(static_cast<std::size_t>(e));
      }
    }
  } else {
    text += d.digits[0];
    if (n > 1) {
      text += separator;
      text += d.digits.substr(1);
    }
    text += 'E';
    text += std::to_string(e - 1);  // "-5" or "20": no plus sign, no leading zeros
  }
  return text;
}

std::string NumberToExponentText(double x, char separator) {
  std::string text;
  if (NonFiniteText(x, text)) return text;
  if (x == 0.0) return std::string("0") + separator + "00E+0";
  if (x < 0) text.push_back('-');
  const TDecimal d = RoundToDigits(std::fabs(x), 3);
  text += d.digits[0];
  text += separator;
  text += d.digits.substr(1, 2);
  text += 'E';
  const int exponent = d.exponent - 1;
  text += exponent < 0 ? '-' : '+';
  text += std::to_string(std::abs(exponent));
  return text;
}

std::string StokesEinsteinText(const TVolume& volume, double x, char separator) {
  return NumberToExponentText(volume.StokesEinstein(x), separator);
}

double TextToNumber(const std::string& text, char separator) {
  // Grammar: blanks, [sign], digits, [separator digits], [(E|e) [sign] digits], blanks.
  std::size_t pos = 0;
  const std::size_t size = text.size();
  while (pos < size && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < size && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';

  std::string mantissa;  // integer and fraction digits, no separator
  std::size_t next = ScanDigits(text, pos, &mantissa);
  if (next == pos) ThrowNotAFloat(text);
  pos = next;
  std::size_t fractionDigits = 0;
  if (pos < size && text[pos] == separator) {
    next = ScanDigits(text, pos + 1, &mantissa);
    if (next == pos + 1) ThrowNotAFloat(text);
    fractionDigits = next - pos - 1;
    pos = next;
  }
  // Decimal exponent, saturated far beyond any double so that absurd exponent
  // texts cannot overflow the integer; the value is then simply out of range.
  constexpr long long ExponentLimit = 1000000000000000LL;
  long long exponent = 0;
  if (pos < size && (text[pos] == 'E' || text[pos] == 'e')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < size && (text[pos] == '+' || text[pos] == '-')) negativeExponent = text[pos++] == '-';
    next = pos;
    while (next < size && text[next] >= '0' && text[next] <= '9') {
      if (exponent < ExponentLimit) exponent = exponent * 10 + (text[next] - '0');
      ++next;
    }
    if (next == pos) ThrowNotAFloat(text);
    pos = next;
    if (negativeExponent) exponent = -exponent;
  }
  while (pos < size && text[pos] == ' ') ++pos;
  if (pos != size) ThrowNotAFloat(text);

  // value = mantissa x 10^exponent10, with significant digits only.
  long long exponent10 = exponent - static_cast<long long>(fractionDigits);
  const std::size_t first = mantissa.find_first_not_of('0');
  if (first == std::string::npos) return negative ? -0.0 : 0.0;
  std::size_t last = mantissa.find_last_not_of('0');
  exponent10 += static_cast<long long>(mantissa.size() - 1 - last);
  const std::string significant = mantissa.substr(first, last + 1 - first);
  // The value lies in [10^(lead-1), 10^lead).
  const long long lead = static_cast<long long>(significant.size()) + exponent10;
  if (lead > 400) throw TError(FloatOverflowMessage);
  if (lead < -400) return negative ? -0.0 : 0.0;  // underflow rounds to zero, as storing would

  std::string normalised;
  normalised.reserve(significant.size() + 24);
  if (negative) normalised.push_back('-');
  normalised += significant;
  normalised += 'e';
  normalised += std::to_string(exponent10);
  double value = 0.0;
  const auto result =
      DoubleChars::FromChars(normalised.data(), normalised.data() + normalised.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    if (lead > 0) throw TError(FloatOverflowMessage);
    return negative ? -0.0 : 0.0;
  }
  if (result.ec != std::errc() || result.ptr != normalised.data() + normalised.size()) {
    ThrowNotAFloat(text);  // cannot happen for the normalised form; never return garbage
  }
  if (std::isinf(value)) throw TError(FloatOverflowMessage);
  return value;
}

std::string TickLabelText(double x, char separator) {
  std::string text;
  if (NonFiniteText(x, text)) return text;
  if (x == 0.0) return "0E0";
  if (x < 0) text.push_back('-');
  // Three significant digits, rounded: "#.##" holds at most three.
  TDecimal d = RoundToDigits(std::fabs(x), 3);
  DropTrailingZeros(d.digits);
  text += d.digits[0];
  if (d.digits.size() > 1) {
    text += separator;
    text += d.digits.substr(1);
  }
  text += 'E';
  text += std::to_string(d.exponent - 1);
  return text;
}

std::string ExportNumberText(double x) {
  // to_chars in general format with a precision behaves as printf's
  // "%.6g" in the "C" locale: '.', lowercase "e", two-digit exponent, and
  // "inf"/"nan" with their sign.
  char buffer[64];
  const auto result =
      DoubleChars::ToChars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 6);
  return std::string(buffer, result.ptr);
}

std::string ExactNumberText(double x) {
  char buffer[64];
  const auto result =
      DoubleChars::ToChars(buffer, buffer + sizeof buffer, x, std::chars_format::general);
  return std::string(buffer, result.ptr);
}

std::string ExactTableText(double x) {
  const std::string table = NumberToText(x, '.');
  try {
    // The same bits: -0 must not come back as 0.
    const double back = TextToNumber(table, '.');
    if (back == x && std::signbit(back) == std::signbit(x)) return table;
  } catch (const TError&) {
    // Not a number the tables read (infinities): the exact text below.
  }
  const std::string exact = ExactNumberText(x);
  const std::size_t e = exact.find('e');
  if (e == std::string::npos) return exact;
  return exact.substr(0, e) + "E" + std::to_string(std::stoi(exact.substr(e + 1)));
}

bool ExactNumber(std::string_view text, double& value) {
  const char* const end = text.data() + text.size();
  const auto result = DoubleChars::FromChars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

std::string ExportLine(double x, double y) {
  return ExportNumberText(x) + " ; " + ExportNumberText(y) + "\r\n";
}

char UsableDecimalSeparator(const std::string& localePoint) {
  if (localePoint.size() != 1) return '.';
  const char separator = localePoint[0];
  if (separator < 0x21 || separator > 0x7E) return '.';
  if ((separator >= '0' && separator <= '9') || (separator >= 'A' && separator <= 'Z') ||
      (separator >= 'a' && separator <= 'z') || separator == '+' || separator == '-')
    return '.';
  return separator;
}
