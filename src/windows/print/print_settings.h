#pragma once
// The print dialog's choices, kept in section "Print" of the settings file.
#include <string>

struct PrintDialogSettings {
  int FormLeft = 10, FormTop = 20, FormWidth = 620, FormHeight = 440;
  int PortFont = 9;
  int PadX = 4, PadY = 4;
  int MarTop = 10, MarLeft = 10, MarRight = 10, MarBottom = 10;
  bool NewPage = true;
  std::string SortBy = "--None--";
  bool SortUp = true;
  bool Detailed = false;
};

// Reads the section; missing or unreadable keys keep the defaults above, numbers are clamped
// to their up-downs' ranges.
PrintDialogSettings LoadPrintSettings();
void SavePrintSettings(const PrintDialogSettings& s);
