#include "grid/grid_cells.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/locks.h"
#include "core/market_clock.h"
#include "core/news.h"
#include "core/stock_table.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "grid/grid_columns.h"
#include "platform/string_list.h"

namespace {

std::string Fixed(double v, int decimals) { return FixedText(v, decimals); }

std::string Grouped(double v, int decimals) {
  std::string digits = Fixed(std::fabs(v), decimals);
  size_t dot = digits.find('.');
  std::string whole = digits.substr(0, dot), rest = dot == std::string::npos ? "" : digits.substr(dot);
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  bool zero = std::fabs(v) < 0.5 * std::pow(10.0, -decimals);
  return (v < 0 && !zero ? "-" : "") + out + rest;
}

std::string Signed(const std::string& text, double v) { return v > 0 ? "+" + text : text; }

std::string Price(double v) { return v != 0 ? FormatPriceFraction(v) : std::string(); }

std::string Number(double v) {
  if (v == 0) return {};
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 10);
  return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
}

std::string Whole(long long v) { return v != 0 ? std::to_string(v) : std::string(); }

// Cash is worth its amount and cost as much: it never shows a gain. Amounts come from the
// prices as shown, rounded to the cent, so a row is what its figures say and TOTAL their sum.
bool IsCash(const GridRowData& r) { return SameText(r.Symbol, "$CASH"); }
double Cost(const GridRowData& r) {
  return IsCash(r) ? RoundMoney(r.Row.Shares) : HoldingCost(r.Row.Shares, r.Row.BasePrice, r.Row.Commission);
}
double Value(const GridRowData& r) {
  return IsCash(r) ? RoundMoney(r.Row.Shares) : HoldingValue(r.Row.Shares, r.Quote.Last);
}
double ValueChange(const GridRowData& r) { return HoldingValue(r.Row.Shares, r.Quote.Change); }
// The same amounts before rounding: percentages are divided from these.
ExactMoney ExactCost(const GridRowData& r) {
  return ExactMoney::Holding(r.Row.Shares, IsCash(r) ? 1.0 : r.Row.BasePrice, IsCash(r) ? 0.0 : r.Row.Commission);
}
ExactMoney ExactValue(const GridRowData& r) {
  return ExactMoney::Holding(r.Row.Shares, IsCash(r) ? 1.0 : r.Quote.Last);
}
bool Holds(const GridRowData& r) { return r.HasRow && r.Row.Shares != 0 && !r.Separator; }
// A short position costs a negative amount: the percentage is of what was put at stake, signed
// as the gain. Empty when nothing was put at stake.
std::string PercentGain(const ExactMoney& value, const ExactMoney& cost) {
  const ExactMoney gain = value - cost;
  double percent = 0;
  if (!gain.PercentOf(cost, percent)) return {};
  return Signed(Fixed(percent, 2), gain.Sign()) + "%";
}

}  // namespace

std::string VolumeText(double v) {
  double a = std::fabs(v);
  if (a < 100000) return Grouped(v, 0);
  if (a < 1e6) return Fixed(v / 1e3, 1) + "K";
  if (a < 1e9) return Fixed(v / 1e6, 2) + "M";
  return Fixed(v / 1e9, 2) + "B";
}

std::string MoneyText(double amount) { return Grouped(RoundMoney(amount), 2); }

bool CollectRows(const std::vector<PortRowRec>& portRows, std::vector<GridRowData>& out, bool addTotal,
                 int64_t receivedSince) {
  std::vector<GridRowData> rows(portRows.size());
  for (size_t i = 0; i < portRows.size(); ++i) {
    GridRowData& r = rows[i];
    r.Symbol = portRows[i].Symbol;
    r.Row = portRows[i];
    r.HasRow = true;
    r.Separator = IsDashesOnly(r.Symbol);
  }
  {
    // Never wait here: a writer holding the lock for long would stall the grid thread and
    // end in a deadlock report. Busy: give up this fill, a later one redraws.
    LockHold hold(AddSnapLock, "GRID", LockHold::Now{});
    if (!hold) return false;
    for (GridRowData& r : rows) {
      if (r.Separator || r.Symbol.empty()) continue;
      r.HasQuote = GetStockQuote(r.Symbol, r.Quote) >= 0 || SameText(r.Symbol, "$CASH");
      r.HasFund = GetFundData(r.Symbol, r.Fund) >= 0;
      if (receivedSince != AnyQuote && !(r.Quote.ThisRun && r.Quote.ReceivedTick >= receivedSince)) {
        std::string name = std::move(r.Quote.Name);
        r.HasQuote = false;
        r.Quote = StockQuote{};
        r.Quote.Name = std::move(name);
        continue;
      }
      if (StockInfoType* rec = StockTable.FindRecord(r.Symbol)) r.TickMark = rec->Quote.TickMark;
    }
  }
  const TDateTime now = MarketNow();
  for (GridRowData& r : rows) {
    if (r.Separator || r.Symbol.empty()) continue;
    TDateTime checked = 0, newest = 0;
    r.NewNews = GetNewsInfo(r.Symbol, checked, newest);
    if (r.NewNews && newest > 0) r.NewsAgeDays = std::max(0.0, now - newest);
  }
  if (addTotal) AddTotalRow(rows);
  out = std::move(rows);
  return true;
}

void AddTotalRow(std::vector<GridRowData>& rows) {
  GridRowData total;
  total.Symbol = "TOTAL";
  total.IsTotal = true;
  bool any = false;
  for (const GridRowData& r : rows) {
    if (r.IsTotal || !Holds(r)) continue;
    any = true;
    if (!r.HasQuote) {
      ++total.TotalLeftOut;
      continue;
    }
    total.TotalCost += Cost(r);
    total.TotalValue += Value(r);
    total.TotalExactCost = total.TotalExactCost + ExactCost(r);
    total.TotalExactValue = total.TotalExactValue + ExactValue(r);
    total.TotalVChange += ValueChange(r);
  }
  if (any) rows.push_back(std::move(total));
}

std::string CellText(int kind, const GridRowData& r) {
  if (kind == SymCol) return r.Symbol;
  if (r.Separator) return {};
  if (r.IsTotal) {
    const double gain = r.TotalValue - r.TotalCost;
    switch (kind) {
      case CostCol: return MoneyText(r.TotalCost);
      case ValueCol: return MoneyText(r.TotalValue);
      case GainCol: return Signed(MoneyText(gain), gain);
      case PctGainCol: return PercentGain(r.TotalExactValue, r.TotalExactCost);
      case VChangeCol: return Signed(MoneyText(r.TotalVChange), r.TotalVChange);
      default: return {};
    }
  }
  const StockQuote& q = r.Quote;
  const bool quoted = r.HasQuote;
  switch (kind) {
    case BidCol: return quoted ? Price(q.Bid) : "";
    case AskCol: return quoted ? Price(q.Ask) : "";
    case LastCol: return quoted ? Price(q.Last) : "";
    case ChangeCol: return quoted && q.Last != 0 ? Signed(FormatPriceFraction(q.Change), q.Change) : "";
    case PctChangeCol: {
      double percent = 0;
      if (!quoted || !ExactMoney::Price(q.Change).PercentOf(ExactMoney::Price(q.PrevClose), percent)) return {};
      return Signed(Fixed(percent, 2), q.Change) + "%";
    }
    case VolCol: return quoted && q.Volume != 0 ? VolumeText(static_cast<double>(q.Volume)) : "";
    case OpenCol: return quoted ? Price(q.Open) : "";
    case HighCol: return quoted ? Price(q.High) : "";
    case LowCol: return quoted ? Price(q.Low) : "";
    case PrevCol: return quoted ? Price(q.PrevClose) : "";
    case NameCol: return q.Name;
    case BidSizeCol: return Whole(q.BidSize);
    case AskSizeCol: return Whole(q.AskSize);
    case LastSizeCol: return Whole(q.LastSize);
    case TradesCol: return Whole(q.TradeCount);
    case TickCol: return r.TickMark;
    case TimeCol: return q.UpdateTime > 0 ? FormatDateTime("hh:mm:ss", q.UpdateTime) : "";
    case DateCol: return q.UpdateTime > 0 ? FormatDateTime("mm/dd/yyyy", q.UpdateTime) : "";
    case SpreadCol: return q.Bid > 0 && q.Ask > 0 ? FormatPrice(q.Ask - q.Bid) : "";
    case RangeCol: return q.Low > 0 && q.High > 0 ? FormatPrice(q.Low) + " - " + FormatPrice(q.High) : "";
    case SharesCol: return r.HasRow ? Number(r.Row.Shares) : "";
    case BaseCol: return r.HasRow ? Price(r.Row.BasePrice) : "";
    case CommCol: return r.HasRow && r.Row.Commission != 0 ? MoneyText(r.Row.Commission) : "";
    case CostCol: return Holds(r) ? MoneyText(Cost(r)) : "";
    case ValueCol: return Holds(r) && quoted ? MoneyText(Value(r)) : "";
    case GainCol: {
      if (!Holds(r) || !quoted) return {};
      double g = Value(r) - Cost(r);
      return Signed(MoneyText(g), g);
    }
    case PctGainCol: return Holds(r) && quoted ? PercentGain(ExactValue(r), ExactCost(r)) : "";
    case VChangeCol: {
      if (!Holds(r) || !quoted) return {};
      const double v = ValueChange(r);
      return Signed(MoneyText(v), v);
    }
    case LowLimCol: return r.HasRow ? Price(r.Row.LowLimit) : "";
    case HighLimCol: return r.HasRow ? Price(r.Row.HighLimit) : "";
    case NoteCol: return r.HasRow ? r.Row.Note : "";
    case SepCol:
    case ChartCol:
    case NewsCol: return {};
    case Fund1Col: case Fund2Col: case Fund3Col: case Fund4Col: case Fund5Col: case Fund6Col: case Fund7Col:
      return r.HasFund ? Number(r.Fund.Values[static_cast<size_t>(kind - Fund1Col)]) : "";
    case FundText1Col: return r.HasFund ? r.Fund.Texts[0] : "";
    case FundText2Col: return r.HasFund ? r.Fund.Texts[1] : "";
    default: return {};
  }
}

int CellSign(int kind, const GridRowData& r) {
  auto sign = [](double v) { return v > 0 ? 1 : v < 0 ? -1 : 0; };
  if (r.Separator) return 0;
  if (r.IsTotal) {
    if (kind == GainCol) return sign(r.TotalValue - r.TotalCost);
    if (kind == PctGainCol) return (r.TotalExactValue - r.TotalExactCost).Sign();
    if (kind == VChangeCol) return sign(r.TotalVChange);
    return 0;
  }
  if (!r.HasQuote) return 0;
  switch (kind) {
    case GainCol: return Holds(r) ? sign(Value(r) - Cost(r)) : 0;
    case PctGainCol: return Holds(r) ? (ExactValue(r) - ExactCost(r)).Sign() : 0;
    default: return sign(r.Quote.Change);
  }
}

bool ParseSortNumber(std::string_view text, double& value) {
  std::string t;
  for (char c : text)
    if (c != ',' && c != '$' && c != '%' && c != '+' && c != ' ') t += c;
  if (t.empty()) return false;
  double scale = 1;
  switch (t.back()) {
    case 'K': case 'k': scale = 1e3; break;
    case 'M': case 'm': scale = 1e6; break;
    case 'B': case 'b': scale = 1e9; break;
    default: break;
  }
  if (scale != 1) t.pop_back();
  if (t.empty()) return false;
  if (t.find('/') != std::string::npos) {
    // Fractions ("25 1/2") have their blank back for the price reader.
    std::string spaced;
    for (char c : text)
      if (c != ',' && c != '$' && c != '+') spaced += c;
    for (char c : spaced)
      if (!(std::isdigit(static_cast<unsigned char>(c)) || c == ' ' || c == '/' || c == '-' || c == '.')) return false;
    try {
      value = ParsePrice(spaced);
      return std::isfinite(value);
    } catch (const EConvertError&) {
      return false;
    }
  }
  double v = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v)) return false;
  value = v * scale;
  return true;
}

int CompareCellTexts(std::string_view a, std::string_view b) {
  double x = 0, y = 0;
  const bool na = ParseSortNumber(a, x), nb = ParseSortNumber(b, y);
  if (na && nb) return x < y ? -1 : x > y ? 1 : 0;
  if (na != nb) return na ? -1 : 1;
  int c = CompareTextNoCase(a, b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::vector<size_t> SortOrder(const std::vector<std::string>& texts, const std::vector<char>& total, bool down) {
  std::vector<size_t> order(texts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto isTotal = [&](size_t i) { return i < total.size() && total[i]; };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (isTotal(a) != isTotal(b)) return isTotal(b);
    const std::string& ta = texts[a];
    const std::string& tb = texts[b];
    if (ta.empty() != tb.empty()) return tb.empty();
    int c = CompareCellTexts(ta, tb);
    return down ? c > 0 : c < 0;
  });
  return order;
}

void SortRows(std::vector<GridRowData>& rows, int kind, bool down) {
  if (kind < 0 || kind >= ColKindCount) return;
  std::vector<std::string> texts;
  std::vector<char> total;
  texts.reserve(rows.size());
  total.reserve(rows.size());
  for (const GridRowData& r : rows) {
    total.push_back(r.IsTotal || SameText(r.Symbol, "TOTAL"));
    texts.push_back(total.back() ? std::string() : CellText(kind, r));
  }
  std::vector<GridRowData> sorted;
  sorted.reserve(rows.size());
  for (size_t i : SortOrder(texts, total, down)) sorted.push_back(std::move(rows[i]));
  rows = std::move(sorted);
}
