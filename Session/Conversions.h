// Number/text conversions of the window. Plain C++ (no Qt) so they can be
// tested and fuzzed without a display.
//
// The parameter tables use the user's locale decimal separator, read once at
// program start ('.' when the locale gives none); the export files always
// use '.'.
#pragma once

#include <string>
#include <string_view>

class TVolume;

// General format, 15 significant digits: fixed notation for decimal exponents
// -3 .. 15 ("0.001", "293.15"), otherwise scientific ("1E-5", "7.2E20").
std::string NumberToText(double x, char separator);

// Exponent format, 3 significant digits: "1.50E-9", "2.50E+20", "0.00E+0".
std::string NumberToExponentText(double x, char separator);

// What the two Recalculate buttons show: the Stokes-Einstein value of `x`
// (a diffusion coefficient from a radius, or a radius from a coefficient) at
// the temperature and viscosity `volume` holds, in exponent format with 3
// digits ("1.43E-10"). "Apply Species" reads the coefficient back from this
// text, and so does kelvane-run's --species-radius.
std::string StokesEinsteinText(const TVolume& volume, double x, char separator);

// Accepts blanks, sign, digits, separator and digits, exponent, blanks; nothing
// else. Throws TError "'<text>' is not a valid floating point value" for any
// other text, and "Floating point overflow" beyond the range of a double.
double TextToNumber(const std::string& text, char separator);

// Axis tick label with the pattern "#.##E-##": "0E0", "7.2E2", "1.23E-4".
std::string TickLabelText(double x, char separator);

// A number in the export files: the default stream text of a double, 6
// significant digits, always '.': "0.0003", "7.2e+20", "1.23457e+06".
std::string ExportNumberText(double x);

// The shortest text that reads back as the same double, always with '.', in
// exponent form below 1e-4 and from 1e6 on: "0.0001", "719", "7.2e+20",
// "2.9629629629629626e+17". The run CSV and its actions use it.
std::string ExactNumberText(double x);

// A number as the tables write it (NumberToText with '.': "1E-5", "7.2E20",
// "0.0001") where that reads back as the same double, else its shortest exact
// digits with the tables' exponent: "2.0000000000000004E-6". A run CSV's
// values are shown and saved so.
std::string ExactTableText(double x);

// The double that an ExactNumberText (or any plain C-locale number: "1e-5",
// "0.25") stands for; false for anything else, blanks included.
bool ExactNumber(std::string_view text, double& value);

// One point of a curve in the export files: "x ; y" and CR LF.
std::string ExportLine(double x, double y);

// The separator the tables use for the system locale's decimal point, given
// as UTF-8: the point itself when it is one ASCII punctuation character other
// than a sign (a letter, digit, sign or blank would make number texts
// ambiguous), otherwise '.'.
char UsableDecimalSeparator(const std::string& localePoint);
