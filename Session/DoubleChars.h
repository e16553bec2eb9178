// std::to_chars and std::from_chars for doubles, where the standard library
// has them (libstdc++ on every Linux processor), and the same bytes from
// {fmt} and strtod where it does not (the libc++ of Emscripten's WebAssembly
// builds). Neither consults the C++ locale; the fallback's strtod reads in
// the C locale, which no program built with it changes.
#pragma once

#include <charconv>
#include <system_error>

#if defined(__cpp_lib_to_chars)
#define KELVANE_STD_DOUBLE_CHARS 1
#else
#define KELVANE_STD_DOUBLE_CHARS 0
#endif

namespace DoubleChars {

// As std::to_chars(first, last, x, format): the shortest text that reads
// back as x (general: fixed from 1e-4 up to below 1e6, otherwise
// exponent form "1e-05", "7.2e+20").
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format);
// As std::to_chars(first, last, x, format, precision): printf's "%.*g"
// (general) or "%.*e" (scientific).
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format,
                             int precision);
// As std::from_chars(first, last, value) in general format: an optional
// '-', digits with an optional '.', an optional exponent, or inf/nan;
// result_out_of_range (value untouched) beyond the doubles' range.
std::from_chars_result FromChars(const char* first, const char* last, double& value);

#if KELVANE_HAVE_FMT
// The fallback itself, built wherever {fmt} is at hand, so that the tests
// compare its bytes with the standard library's.
namespace Portable {
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format);
std::to_chars_result ToChars(char* first, char* last, double x, std::chars_format format,
                             int precision);
std::from_chars_result FromChars(const char* first, const char* last, double& value);
}  // namespace Portable
#endif

}  // namespace DoubleChars
