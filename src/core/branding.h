#pragma once
// The branding record read from cust.par at start.
#include <string>

#include "platform/string_list.h"

struct CustVarType {
  std::string ProgFullName = "Vantora Stock Monitor";
  std::string ProgShortName = "Vantora";
  std::string CompURL = "http://127.0.0.1/";
  std::string SupportEmail = "support@localhost";
  std::string Copyright = "Copyright (c) Vantora developers";
  std::string ExeDefault = "STOCKS.EXE";
  std::string HelpFileName = "stocks.hlp";
  int SplashDelay = 0;  // milliseconds
};

extern CustVarType Branding;

// Fills the record from KEY=value lines (missing keys keep their defaults).
void ApplyBranding(const StringList& lines, CustVarType& out);
// Reads cust.par of the program folder into Branding.
void LoadBranding();
// The help file name; empty when it is "NONE".
void GetHelpFileName(std::string& name);

// KEY=value lines of a parameter file: blank lines and lines beginning "//" skipped.
// False (list left empty) when the file cannot be read.
bool LoadParamLines(const std::string& path, StringList& list);
// The value of the first line whose key matches without regard to case; def when none.
std::string ParamValue(const StringList& list, std::string_view key, std::string_view def);
