// "Export run...": a whole run as one CSV file that a spreadsheet opens and
// pandas reads with `pandas.read_csv(name, comment="#")`. Plain C++.
#pragma once

#include <string>
#include <vector>

class TVolume;

// One step of the run, as the four curves hold it.
struct TRunRow {
  double Time;                 // s
  double InsideCount;          // molecules inside the inner cube
  double ReferenceCount;       // molecules the inner cube holds at the concentrations
  double InsideConcentration;  // m^-3
  double TotalConcentration;   // m^-3
};

// Header lines ("# ...": the program's version, the seeds, the applied
// parameters and every species of `volume`), the column names, then one row
// per step. Numbers with '.', as short as reads back to the same double.
std::string RunCsv(const TVolume& volume, const std::vector<TRunRow>& rows);

// The two parts of RunCsv, for writing a run as it goes: the header lines and
// column names, then one line per row.
std::string RunCsvHeader(const TVolume& volume);
std::string RunCsvLine(const TRunRow& row);
