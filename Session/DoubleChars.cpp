#include "Session/DoubleChars.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#if KELVANE_HAVE_FMT
#include <fmt/format.h>
#endif

#if !KELVANE_STD_DOUBLE_CHARS && !KELVANE_HAVE_FMT
#error "Without std::to_chars for doubles the number texts need {fmt} (libfmt-dev)"
#endif

namespace DoubleChars {

#if KELVANE_HAVE_FMT
namespace Portable {

namespace {

std::to_chars_result Copy(char* first, char* last, const std::string& text) {
  if (text.size() > static_cast<std::size_t>(last - first))
    return {last, std::errc::value_too_large};
  std::memcpy(first, text.data(), text.size());
  return {first + text.size(), std::errc()};
}

// The shortest round-trip text in to_chars' general format. {fmt}'s "{}"
// has the same shortest digits (Dragonbox, as to_chars' Ryu: the shortest
// that read back, the nearest of them to x), but switches to the exponent
// form at other magnitudes; so its digits and exponent are laid out anew.
std::string ShortestGeneral(double x) {
  if (std::isnan(x)) return std::signbit(x) ? "-nan" : "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  const std::string text = fmt::format("{}", x);
  std::string digits;  // with the point dropped
  int pointAt = -1;    // digits before the point
  int exponent = 0;
  std::size_t i = text[0] == '-' ? 1 : 0;
  for (; i < text.size() && text[i] != 'e'; ++i) {
    if (text[i] == '.')
      pointAt = static_cast<int>(digits.size());
    else
      digits.push_back(text[i]);
  }
  if (i < text.size()) exponent = std::atoi(text.c_str() + i + 1);
  if (pointAt < 0) pointAt = static_cast<int>(digits.size());
  // x = 0.digits x 10^(pointAt + exponent); leading zeros leave the digits.
  int leading = 0;
  while (leading < static_cast<int>(digits.size()) - 1 && digits[leading] == '0') ++leading;
  digits.erase(0, static_cast<std::size_t>(leading));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = std::signbit(x) ? "-" : "";
  if (digits == "0") return out + "0";
  const int x10 = pointAt - leading + exponent - 1;  // x = d.ddd x 10^x10
  const int count = static_cast<int>(digits.size());
  if (x10 >= -4 && x10 < 6) {  // fixed
    if (x10 < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-x10 - 1), '0');
      out += digits;
    } else if (count <= x10 + 1) {
      out += digits;
      out.append(static_cast<std::size_t>(x10 + 1 - count), '0');
    } else {
      out += digits.substr(0, static_cast<std::size_t>(x10 + 1));
      out += '.';
      out += digits.substr(static_cast<std::size_t>(x10 + 1));
    }
    return out;
  }
  out += digits[0];
  if (count > 1) out += '.' + digits.substr(1);
  out += x10 < 0 ? "e-" : "e+";
  const int magnitude = x10 < 0 ? -x10 : x10;
  if (magnitude < 10) out += '0';
  out += std::to_string(magnitude);
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether [p, last) starts with `word` in any case.
bool StartsWithWord(const char* p, const char* last, const char* word) {
  const std::size_t n = std::strlen(word);
  if (static_cast<std::size_t>(last - p) < n) return false;
  for (std::size_t k = 0; k < n; ++k)
    if ((p[k] | 0x20) != word[k]) return false;
  return true;
}

}  // namespace

std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format) {
  if (format != std::chars_format::general) return {last, std::errc::invalid_argument};
  return Copy(first, last, ShortestGeneral(x));
}

std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format,
                             int precision) {
  if (std::isnan(x)) return Copy(first, last, std::signbit(x) ? "-nan" : "nan");
  if (std::isinf(x)) return Copy(first, last, x < 0 ? "-inf" : "inf");
  if (format == std::chars_format::scientific)
    return Copy(first, last, fmt::format("{:.{}e}", x, precision));
  if (format == std::chars_format::general)
    return Copy(first, last, fmt::format("{:.{}g}", x, precision < 1 ? 1 : precision));
  return {last, std::errc::invalid_argument};
}

std::from_chars_result FromChars(const char* first, const char* last, double& value) {
  const char* p = first;
  const bool negative = p != last && *p == '-';
  if (negative) ++p;
  if (StartsWithWord(p, last, "inf")) {
    p += StartsWithWord(p, last, "infinity") ? 8 : 3;
    value = negative ? -HUGE_VAL : HUGE_VAL;
    return {p, std::errc()};
  }
  if (StartsWithWord(p, last, "nan")) {
    p += 3;
    value = negative ? -std::nan("") : std::nan("");
    return {p, std::errc()};
  }
  // The longest prefix of the grammar: digits, '.', digits, then an exponent
  // only where digits follow it.
  const char* const start = p;
  bool anyDigit = false, nonZero = false;
  for (; p != last && IsDigit(*p); ++p) anyDigit = true, nonZero = nonZero || *p != '0';
  if (p != last && *p == '.') {
    ++p;
    for (; p != last && IsDigit(*p); ++p) anyDigit = true, nonZero = nonZero || *p != '0';
  }
  if (!anyDigit) return {first, std::errc::invalid_argument};
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q != last && (*q == '+' || *q == '-')) ++q;
    if (q != last && IsDigit(*q)) {
      while (q != last && IsDigit(*q)) ++q;
      p = q;
    }
  }
  const std::string text(negative ? start - 1 : start, p);
  const double read = std::strtod(text.c_str(), nullptr);
  if (std::isinf(read) || (read == 0.0 && nonZero)) return {p, std::errc::result_out_of_range};
  value = read;
  return {p, std::errc()};
}

}  // namespace Portable
#endif

#if KELVANE_STD_DOUBLE_CHARS
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format) {
  return std::to_chars(first, last, x, format);
}
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format,
                             int precision) {
  return std::to_chars(first, last, x, format, precision);
}
std::from_chars_result FromChars(const char* first, const char* last, double& value) {
  return std::from_chars(first, last, value);
}
#else
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format) {
  return Portable::ToChars(first, last, x, format);
}
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format,
                             int precision) {
  return Portable::ToChars(first, last, x, format, precision);
}
std::from_chars_result FromChars(const char* first, const char* last, double& value) {
  return Portable::FromChars(first, last, value);
}
#endif

}  // namespace DoubleChars
