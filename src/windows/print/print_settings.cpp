#include "windows/print/print_settings.h"

#include <algorithm>

#include "core/settings_file.h"

namespace {
constexpr const char* Section = "Print";
}  // namespace

PrintDialogSettings LoadPrintSettings() {
  PrintDialogSettings s;
  TMyIniFile& ini = Ini();
  s.FormLeft = ini.ReadInteger(Section, "FormLeft", s.FormLeft);
  s.FormTop = ini.ReadInteger(Section, "FormTop", s.FormTop);
  s.FormWidth = std::max(200, ini.ReadInteger(Section, "FormWidth", s.FormWidth));
  s.FormHeight = std::max(150, ini.ReadInteger(Section, "FormHeight", s.FormHeight));
  s.PortFont = std::clamp(ini.ReadInteger(Section, "PortFont", s.PortFont), 4, 30);
  auto upDown = [&](const char* key, int def) { return std::clamp(ini.ReadInteger(Section, key, def), 0, 20); };
  s.PadX = upDown("PadX", s.PadX);
  s.PadY = upDown("PadY", s.PadY);
  s.MarTop = upDown("MarTop", s.MarTop);
  s.MarLeft = upDown("MarLeft", s.MarLeft);
  s.MarRight = upDown("MarRight", s.MarRight);
  s.MarBottom = upDown("MarBottom", s.MarBottom);
  s.NewPage = ini.ReadString(Section, "NewPage", "Y") == "Y";
  s.SortBy = ini.ReadString(Section, "SortBy", s.SortBy);
  s.SortUp = ini.ReadString(Section, "SortDir", "Up") != "Dn";
  s.Detailed = ini.ReadString(Section, "Detailed", "N") == "Y";
  return s;
}

void SavePrintSettings(const PrintDialogSettings& s) {
  TMyIniFile& ini = Ini();
  ini.BeginBatch();
  ini.WriteInteger(Section, "FormLeft", s.FormLeft);
  ini.WriteInteger(Section, "FormTop", s.FormTop);
  ini.WriteInteger(Section, "FormWidth", s.FormWidth);
  ini.WriteInteger(Section, "FormHeight", s.FormHeight);
  ini.WriteInteger(Section, "PortFont", s.PortFont);
  ini.WriteInteger(Section, "PadX", s.PadX);
  ini.WriteInteger(Section, "PadY", s.PadY);
  ini.WriteInteger(Section, "MarTop", s.MarTop);
  ini.WriteInteger(Section, "MarLeft", s.MarLeft);
  ini.WriteInteger(Section, "MarRight", s.MarRight);
  ini.WriteInteger(Section, "MarBottom", s.MarBottom);
  ini.WriteString(Section, "NewPage", s.NewPage ? "Y" : "N");
  ini.WriteString(Section, "SortBy", s.SortBy);
  ini.WriteString(Section, "SortDir", s.SortUp ? "Up" : "Dn");
  ini.WriteString(Section, "Detailed", s.Detailed ? "Y" : "N");
  ini.EndBatch();
}
