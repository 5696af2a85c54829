#include "grid/grid_views.h"

#include <algorithm>

#include <charconv>
#include <unordered_set>

#include "core/log.h"
#include "core/settings_file.h"
#include "grid/grid_columns.h"

const char* const DefaultViewText =
    "SymCol,LastCol,ChangeCol:1,PctChangeCol:1,VolCol,BidCol,AskCol,HighCol,LowCol,TimeCol,ChartCol,NewsCol";

StringList ViewNames;
std::vector<ViewColumns> ViewColumnSets;

ViewColumns ParseViewColumns(std::string_view text) {
  ViewColumns cols;
  StringList items;
  items.SetCommaText(text);
  std::array<bool, ColKindCount> seen{};
  for (int i = 0; i < items.Count(); ++i) {
    std::string item = Trim(items[i]);
    std::string key = item, style;
    if (size_t colon = item.find(':'); colon != std::string::npos) {
      key = Trim(item.substr(0, colon));
      style = Trim(item.substr(colon + 1));
    }
    int kind = ColKindOfKey(key);
    if (kind < 0 || seen[static_cast<size_t>(kind)]) continue;
    seen[static_cast<size_t>(kind)] = true;
    int s = 0;
    if (!style.empty()) {
      auto r = std::from_chars(style.data(), style.data() + style.size(), s);
      if (r.ec != std::errc() || s < 0) s = 0;
    }
    cols.push_back({kind, s});
  }
  return cols;
}

std::string FormatViewColumns(const ViewColumns& cols) {
  std::string out;
  for (const ViewColumn& c : cols) {
    if (!out.empty()) out += ',';
    out += ColKeyNames[static_cast<size_t>(c.Kind)];
    if (c.Style) out += ":" + std::to_string(c.Style);
  }
  return out;
}

void LoadViews() {
  ViewNames.Clear();
  ViewColumnSets.clear();
  ViewNames.Add("Default");
  ViewColumnSets.push_back(ParseViewColumns(DefaultViewText));
  StringList lines;
  if (IniFile_) Ini().ReadSectionValues("Views", lines);
  // Names seen so far, upper-cased: a long section loads in one pass.
  std::unordered_set<std::string> seen{"DEFAULT"};
  for (int i = 0; i < lines.Count(); ++i) {
    std::string name = Trim(lines.Names(i));
    if (name.empty()) continue;
    ViewColumns cols = ParseViewColumns(lines.ValueFromIndex(i));
    if (SameText(name, "Default")) {
      if (!cols.empty()) ViewColumnSets[0] = std::move(cols);
      continue;
    }
    if (!seen.insert(UpperCase(name)).second) continue;
    ViewNames.Add(name);
    ViewColumnSets.push_back(std::move(cols));
  }
}

void SaveViews() {
  auto& ini = Ini();
  ini.BeginBatch();
  ini.EraseSection("Views");
  for (int i = 0; i < ViewNames.Count(); ++i)
    ini.WriteString("Views", ViewNames[i], FormatViewColumns(ViewColumnSets[static_cast<size_t>(i)]));
  ini.EndBatch();
}

namespace {
const ViewColumns& DefaultViewColumns() {
  static const ViewColumns cols = ParseViewColumns(DefaultViewText);
  return cols;
}
}  // namespace

std::string ViewColumnsProblem(const ViewColumns& cols) {
  return cols.empty() ? "A view needs at least one column: tick the columns it shows." : std::string();
}

bool IsUsableViewName(std::string_view name, const StringList& names, int self) {
  std::string n = Trim(name);
  if (n.empty() || n.size() > 255 || n != name) return false;
  if (n.find_first_of("=[];,|\r\n") != std::string::npos) return false;
  int at = names.IndexOf(n);
  return at < 0 || at == self;
}

int ApplyView(std::string_view name, GlobVars& layout) {
  if (ViewNames.Empty()) LoadViews();
  int at = ViewNames.IndexOf(name);
  if (at < 0) at = 0;
  layout.CurView = ViewNames[at];
  layout.ColPos.fill(-1);
  layout.ColStyle.fill(0);
  const ViewColumns* chosen = &ViewColumnSets[static_cast<size_t>(at)];
  if (chosen->empty()) {
    WriteLog("View " + layout.CurView + " has no columns; the Default view's are shown");
    chosen = &ViewColumnSets[0];
    if (chosen->empty()) chosen = &DefaultViewColumns();
  }
  const ViewColumns& cols = *chosen;
  int pos = 0;
  for (const ViewColumn& c : cols) {
    layout.ColPos[static_cast<size_t>(c.Kind)] = pos++;
    layout.ColStyle[static_cast<size_t>(c.Kind)] = c.Style;
  }
  return pos;
}

bool MoveLayoutColumn(GlobVars& layout, int kind, int before) {
  auto shown = [&](int k) { return k >= 0 && k < ColKindCount && layout.ColPos[static_cast<size_t>(k)] >= 0; };
  if (!shown(kind) || !shown(before) || kind == before) return false;
  std::vector<int> order;  // shown kinds by position
  for (int k = 0; k < ColKindCount; ++k)
    if (shown(k)) order.push_back(k);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return layout.ColPos[static_cast<size_t>(a)] < layout.ColPos[static_cast<size_t>(b)];
  });
  const auto from = std::find(order.begin(), order.end(), kind);
  const auto to = std::find(order.begin(), order.end(), before);
  if (from < to) std::rotate(from, from + 1, to + 1);
  else std::rotate(to, from, from + 1);
  for (size_t i = 0; i < order.size(); ++i) layout.ColPos[static_cast<size_t>(order[i])] = static_cast<int>(i);

  // The view keeps the new order.
  if (ViewNames.Empty()) LoadViews();
  const int at = ViewNames.IndexOf(layout.CurView);
  if (at >= 0) {
    ViewColumns cols;
    for (int k : order) cols.push_back({k, layout.ColStyle[static_cast<size_t>(k)]});
    ViewColumnSets[static_cast<size_t>(at)] = std::move(cols);
  }
  return true;
}
