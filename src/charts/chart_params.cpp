#include "charts/chart_params.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"

namespace {

constexpr double MaxPeriod = 1.0e6;

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<double> ReadFloat(std::string_view s) {
  s = TrimView(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> ReadInt(std::string_view s) {
  s = TrimView(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// Takes the text up to the next ',' off the front; nullopt (nothing taken) without a ','.
std::optional<std::string_view> TakeField(std::string_view& line) {
  const size_t p = line.find(',');
  if (p == std::string_view::npos) return std::nullopt;
  std::string_view f = line.substr(0, p);
  line.remove_prefix(p + 1);
  return f;
}

}  // namespace

std::string PeriodText(int period, int customMinutes) {
  switch (period) {
    case Period10Min: return "10m";
    case Period30Min: return "30m";
    case Period1Hour: return "1h";
    case Period2Hours: return "2h";
    case PeriodCustom: {
      std::string t;
      if (customMinutes >= 60) t += std::to_string(customMinutes / 60) + "h";
      if (customMinutes % 60 != 0) t += std::to_string(customMinutes % 60) + "m";
      return t;
    }
    default: return "All";
  }
}

double ClampIndParam(const std::string& type, int row, double value) {
  constexpr double Default = 10.0;
  if (!std::isfinite(value)) return Default;
  if (type == "Horiz. Line") {
    // A level is any price above 0; the second parameter is the "Adjust Scale" flag.
    if (row == 0) return value > 0 ? std::min(value, MaxPeriod * 1000) : Default;
    return std::clamp(value, -MaxPeriod, MaxPeriod);
  }
  if (type == "Fast Stoch." || type == "Slow Stoch.") return std::clamp(value, 1.0, 1000.0);
  return std::clamp(value, 1.0, MaxPeriod);
}

double CorrectIndParam(const std::string& type, int row, const std::string& text) {
  double v;
  try {
    v = ParsePrice(text);
  } catch (const EConvertError&) {
    v = 10;
  }
  if (!std::isfinite(v)) v = 10;
  const bool level = type == "Horiz. Line" && row == 0;
  if (v < 1 && !(level && v > 0)) v = 1;
  const double max = level ? MaxPeriod * 1000 : (type == "Fast Stoch." || type == "Slow Stoch.") ? 1000 : 1440;
  return std::min(v, max);
}

std::string IndParamText(const std::string& type, double value) {
  if (UpperCase(type).find("HORIZ") == std::string::npos) return FormatPrice(value);
  const std::string shown = FormatPriceFraction(value);
  if (value >= 1) return shown;
  // Rounded to the price's usual decimals a penny level would read as another one, or as 0.
  try {
    if (ParsePrice(shown) == value) return shown;
  } catch (const EConvertError&) {
  }
  return PlainDecimal(value);
}

void ChartSettings::SetIndicatorDefaults(bool noVolume) {
  for (int s = 1; s <= IndSlots; ++s) {
    IndName[s] = IndNone;
    for (int r = 0; r < 3; ++r) IndParam[r][s] = 10.0;
  }
  IndName[6] = noVolume ? "MACD" : "Volume";
  IndParam[0][6] = 5.0;
  IndParam[1][6] = 10.0;
  IndParam[2][6] = 3.0;
}

bool IsPriceIndicator(const std::string& name) {
  return std::find(PriceIndicatorNames.begin(), PriceIndicatorNames.end(), name) != PriceIndicatorNames.end();
}

bool IsBottomIndicator(const std::string& name, bool allowVolume) {
  if (name == "Volume") return allowVolume;
  return std::find(BottomIndicatorNames.begin(), BottomIndicatorNames.end(), name) != BottomIndicatorNames.end();
}

bool IsVolumeIndicator(const std::string& name) {
  const std::string u = UpperCase(name);
  return u == "VOLUME" || u == "VOLUME+" || u == "PV TREND";
}

std::string FloatText(double v) {
  if (!std::isfinite(v)) return "0";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  // A lone "-0" reads oddly in the settings.
  if (s == "-0") s = "0";
  return s;
}

std::string PlainDecimal(double v) {
  if (!std::isfinite(v)) return {};
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  std::string s(buf, r.ptr);
  if (s == "-0") s = "0";
  return s;
}

void ClampChartSettings(ChartSettings& s, bool noVolume) {
  const ChartSettings def;
  switch (s.Period) {
    case PeriodAllDay: case Period10Min: case Period1Hour: case Period2Hours: case Period30Min: case PeriodCustom:
      break;
    default:
      s.Period = PeriodAllDay;
  }
  s.CustomMinutes = std::clamp(s.CustomMinutes, 1, 1440);
  if (!std::isfinite(s.SplitRatio)) s.SplitRatio = def.SplitRatio;
  s.SplitRatio = std::clamp(s.SplitRatio, 0.1f, 0.9f);
  s.Width = std::clamp(s.Width, 100, 10000);
  s.Height = std::clamp(s.Height, 70, 10000);
  s.Left = std::clamp(s.Left, -10000, 10000);
  s.Top = std::clamp(s.Top, -10000, 10000);

  ChartSettings defaults;
  defaults.SetIndicatorDefaults(noVolume);
  for (int slot = 1; slot <= IndSlots; ++slot) {
    std::string& name = s.IndName[slot];
    const bool known = slot < 6 ? IsPriceIndicator(name) : IsBottomIndicator(name, !noVolume);
    if (!known || (noVolume && IsVolumeIndicator(name))) {
      name = defaults.IndName[slot];
      for (int r = 0; r < 3; ++r) s.IndParam[r][slot] = defaults.IndParam[r][slot];
    }
    for (int r = 0; r < 3; ++r) s.IndParam[r][slot] = ClampIndParam(name, r, s.IndParam[r][slot]);
  }
}

void ParseChartParams(const std::string& text, bool ownLine, bool noVolume, ChartSettings& s) {
  if (text.empty()) return;
  std::string_view line = text;
  auto intField = [&](int& target, bool apply) {
    const auto f = TakeField(line);
    if (!f) return false;
    if (const auto v = ReadInt(*f); v && apply) target = *v;
    return true;
  };
  auto flagField = [&](bool& target) {
    const auto f = TakeField(line);
    if (!f) return false;
    target = TrimView(*f) == "Y";
    return true;
  };
  bool ok = intField(s.Left, ownLine) && intField(s.Top, ownLine) && intField(s.Width, true) &&
            intField(s.Height, true) && intField(s.Period, true) && flagField(s.ShowBottom);
  if (ok) {
    if (const auto f = TakeField(line)) {
      if (const auto v = ReadFloat(*f)) s.SplitRatio = *v == 0 ? 0.66f : static_cast<float>(*v);
    } else {
      ok = false;
    }
  }
  ok = ok && flagField(s.ShowBidAsk);
  if (ok) {
    int params = 2;
    if (!line.empty() && line.front() == '!') {
      line.remove_prefix(1);
      params = 3;
    }
    for (int slot = 1; slot <= IndSlots && ok; ++slot) {
      const auto name = TakeField(line);
      if (!name) {
        ok = false;
        break;
      }
      s.IndName[slot] = std::string(TrimView(*name));
      for (int r = 0; r < params; ++r) {
        const auto f = TakeField(line);
        if (!f) {
          ok = false;
          break;
        }
        if (const auto v = ReadFloat(*f)) s.IndParam[r][slot] = *v == 0 ? 10.0 : *v;
      }
    }
  }
  // The flags that follow read as on unless they say exactly "N", also when missing.
  for (bool* flag : {&s.IndicatorsOn, &s.ShowLegend}) {
    const auto f = ok ? TakeField(line) : std::nullopt;
    if (!f) ok = false;
    *flag = !(f && TrimView(*f) == "N");
  }
  if (ok) {
    if (const auto f = TakeField(line); f && f->find('.') == std::string_view::npos) {
      if (const auto v = ReadInt(*f)) s.CustomMinutes = *v;
    }
  }
  // An older layout stored a flag in the bottom slot.
  if (s.IndName[6] == "Y" || s.IndName[6] == "N") s.IndName[6] = "Volume";
  ClampChartSettings(s, noVolume);
}

std::string BuildChartParams(const ChartSettings& s, TDateTime savedAt) {
  std::string out;
  auto add = [&](const std::string& f) {
    out += f;
    out += ',';
  };
  auto yn = [](bool b) { return std::string(b ? "Y" : "N"); };
  add(std::to_string(s.Left));
  add(std::to_string(s.Top));
  add(std::to_string(s.Width));
  add(std::to_string(s.Height));
  add(std::to_string(s.Period));
  add(yn(s.ShowBottom));
  add(FloatText(static_cast<double>(s.SplitRatio)));
  add(yn(s.ShowBidAsk));
  out += '!';
  for (int slot = 1; slot <= IndSlots; ++slot) {
    add(s.IndName[slot]);
    for (int r = 0; r < 3; ++r) add(FloatText(s.IndParam[r][slot]));
  }
  add(yn(s.IndicatorsOn));
  add(yn(s.ShowLegend));
  add(std::to_string(s.CustomMinutes));
  add(FloatText(savedAt));
  return out;
}

namespace {

// The saving time of a stored line: its last field; lines without one count as oldest.
double SavedAt(std::string_view line) {
  if (!line.empty() && line.back() == ',') line.remove_suffix(1);
  const size_t p = line.rfind(',');
  const std::string_view last = p == std::string_view::npos ? line : line.substr(p + 1);
  return ReadFloat(last).value_or(-std::numeric_limits<double>::infinity());
}

}  // namespace

void SaveChartParams(const std::string& symbol, const std::string& params) {
  if (symbol.empty() || !IniFile_) return;
  TMyIniFile& ini = Ini();
  if (ini.ReadString("Charts", symbol, "-") != "-") {
    StringList keys;
    ini.ReadSection("Charts", keys);
    if (keys.Count() >= 80) {
      StringList lines;
      ini.ReadSectionValues("Charts", lines);
      struct Entry {
        double savedAt;
        std::string key;
      };
      std::vector<Entry> entries;
      for (int i = 0; i < lines.Count(); ++i) {
        std::string key = lines.Names(i);
        if (key.empty() || SameText(key, symbol)) continue;
        entries.push_back({SavedAt(lines.ValueFromIndex(i)), std::move(key)});
      }
      std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.savedAt != b.savedAt) return a.savedAt < b.savedAt;
        return CompareTextNoCase(a.key, b.key) < 0;
      });
      ini.BeginBatch();
      for (size_t i = 0; entries.size() - i >= 65; ++i) ini.DeleteKey("Charts", entries[i].key);
      ini.EndBatch();
    }
  }
  ini.WriteString("Charts", symbol, params);
}
