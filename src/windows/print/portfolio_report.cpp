#include "windows/print/portfolio_report.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <stdexcept>

#include "core/add_snap.h"
#include "core/branding.h"
#include "core/locks.h"
#include "core/main_hooks.h"
#include "core/market_clock.h"
#include "core/pending.h"
#include "core/portfolios.h"
#include "core/settings.h"
#include "core/symbols.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "windows/print/page_format.h"

bool IsRightAlignedKind(int kind) {
  switch (kind) {
    case VolCol: case SharesCol: case ValueCol: case BidSizeCol: case AskSizeCol: case LastSizeCol: case TradesCol:
    case Fund1Col: case Fund2Col: case Fund3Col: case Fund4Col: case Fund5Col: case Fund6Col: case Fund7Col:
      return true;
    default:
      return false;
  }
}

int SplitPartnerKind(int kind) {
  if (kind == GainCol) return PctGainCol;
  if (kind == VChangeCol) return PctChangeCol;
  return -1;
}

double MarginInches(int position) { return position * 0.1166666666 / 2; }

bool IsQuoteKind(int kind) {
  switch (kind) {
    case BidCol: case AskCol: case LastCol: case ChangeCol: case PctChangeCol: case VolCol: case OpenCol:
    case HighCol: case LowCol: case PrevCol: case TimeCol: case SpreadCol: case RangeCol: case ValueCol:
    case GainCol: case PctGainCol: case VChangeCol: case DateCol:
      return true;
    default:
      return false;
  }
}

namespace {

constexpr int HelperPosition = 10000;

// The grid's alignment marks are not part of the value.
std::string StripMarks(const std::string& text) {
  const size_t start = text.find_first_not_of("<>");
  return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

namespace {

// A text's width on one line (as measured, and rounded up) and the width of its longest word
// (what it needs when wrapped).
struct TextSpan {
  double Measured = 0;
  int Whole = 0, Word = 0;
};

TextSpan Span(const std::string& text, bool bold, const ReportSizing& sz) {
  if (text.empty()) return {};
  TextSpan s;
  s.Measured = sz.Measure(text, bold);
  s.Whole = s.Word = static_cast<int>(std::ceil(s.Measured));
  if (std::none_of(text.begin(), text.end(), [](char ch) { return static_cast<unsigned char>(ch) <= ' '; })) return s;
  s.Word = 0;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::find_if(text.begin() + static_cast<long>(at), text.end(), [](char ch) {
                         return static_cast<unsigned char>(ch) <= ' ';
                       }) - text.begin();
    if (end > at) s.Word = std::max(s.Word, static_cast<int>(std::ceil(sz.Measure(text.substr(at, end - at), bold))));
    at = end + 1;
  }
  return s;
}

// One printed column: its width on one line and the narrowest it may become, both with the
// pad; split columns keep the same for each of their two values.
struct ColumnFit {
  int Natural = 0, Narrowest = 0;
  int Part1 = 0, Part2 = 0, Min1 = 0, Min2 = 0;
  int Width = 0, Width1 = 0, Width2 = 0;
};

}  // namespace

ReportTable BuildReportTable(const ReportInput& in, const ReportSizing& sz) {
  const size_t cols = in.Kinds.size();
  const int pad = sz.Pad;
  // A long word of a free text may break when the table is too wide: it needs at most a third.
  const int cap = sz.Available > 0 ? std::max(1, sz.Available / 3) : std::numeric_limits<int>::max() / 4;
  std::vector<TextSpan> span(cols), span2(cols);
  std::vector<std::vector<TableCell>> texts(in.Cells.size(), std::vector<TableCell>(cols));
  std::vector<std::vector<TableCell>> seconds(in.Cells.size(), std::vector<TableCell>(cols, TableCell{"", true}));
  // A column often repeats a text (a time, a date, an empty value): each is measured once.
  std::vector<std::unordered_map<std::string, TextSpan>> known(cols);
  auto span1 = [&](size_t c, const std::string& text) {
    auto [it, added] = known[c].try_emplace(text);
    if (added) it->second = Span(text, false, sz);
    return it->second;
  };
  auto widen = [](TextSpan& into, const TextSpan& s) {
    into.Whole = std::max(into.Whole, s.Whole);
    into.Word = std::max(into.Word, s.Word);
  };
  for (size_t r = 0; r < in.Cells.size(); ++r) {
    const auto& row = in.Cells[r];
    const bool separator = !row.empty() && IsDashesOnly(row[0]);
    for (size_t c = 0; c < cols; ++c) {
      const int kind = in.Kinds[c];
      TableCell& cell = texts[r][c];
      cell.Literal = true;
      if (separator || kind == SepCol) continue;
      const std::string text = c < row.size() ? StripMarks(row[c]) : std::string();
      if (kind == ChartCol) {
        const std::string sym = row.empty() ? std::string() : row[0];
        cell = {"##" + (sym == "TOTAL" ? in.PortName : sym), false};
      } else if (kind == TickCol && (text == "U" || text == "D")) {
        cell = {text == "U" ? "**UP**" : "**DN**", false};
      } else if (kind != TickCol) {
        cell.Text = text;
      }
      if (SplitPartnerKind(kind) >= 0) {
        const auto& partners = r < in.Partners.size() ? in.Partners[r] : std::vector<std::string>();
        seconds[r][c].Text = c < partners.size() ? StripMarks(partners[c]) : std::string();
        const TextSpan first = Span(cell.Text, false, sz), second = Span(seconds[r][c].Text, false, sz);
        cell.Width = first.Measured;
        seconds[r][c].Width = second.Measured;
        widen(span[c], first);
        widen(span2[c], second);
      } else if (kind == ChartCol || kind == TickCol) {
        // Pictures do not wrap.
        const int w = Span(kind == ChartCol ? cell.Text : text, false, sz).Whole;
        widen(span[c], {0, w, w});
      } else {
        const TextSpan s = span1(c, text);
        cell.Width = s.Measured;
        widen(span[c], s);
      }
    }
  }

  ReportTable out;
  std::vector<ColumnFit> fit(cols);
  std::vector<std::string> titles(cols);
  std::vector<double> titleWidths(cols);
  long natural = 0, narrowest = 0;
  for (size_t c = 0; c < cols; ++c) {
    const int kind = in.Kinds[c];
    ColumnFit& f = fit[c];
    titles[c] = kind == SepCol || kind == ChartCol ? std::string() : ColTitles[static_cast<size_t>(kind)];
    // Titles stay on one line.
    const TextSpan titleSpan = Span(titles[c], true, sz);
    titleWidths[c] = titleSpan.Measured;
    const int title = titleSpan.Whole + pad;
    if (kind == SepCol) {
      f.Natural = f.Narrowest = sz.SepWidth + pad;
    } else if (SplitPartnerKind(kind) >= 0) {
      f.Part1 = span[c].Whole + pad;
      f.Part2 = span2[c].Whole + pad;
      if (f.Part1 + f.Part2 < title) {
        // Both values share the title's width.
        const int parts = f.Part1 + f.Part2;
        f.Part1 = parts > 0 ? static_cast<int>(std::lround(static_cast<double>(f.Part1) * title / parts)) : title / 2;
        f.Part2 = title - f.Part1;
      }
      f.Natural = f.Part1 + f.Part2;
      f.Min1 = std::min(f.Part1, span[c].Word + pad);
      f.Min2 = std::min(f.Part2, span2[c].Word + pad);
      f.Narrowest = std::max(f.Min1 + f.Min2, title);
    } else {
      f.Natural = std::max(span[c].Whole + pad, title);
      const bool freeText = kind == NameCol || kind == NoteCol || kind == FundText1Col || kind == FundText2Col;
      f.Narrowest = std::max(freeText ? std::min(span[c].Word + pad, cap) : span[c].Word + pad, title);
    }
    natural += f.Natural;
    narrowest += f.Narrowest;
  }
  // Columns with room to give narrow in proportion to it, so the table fills the width.
  const long avail = sz.Available;
  double give = 0;
  if (avail <= 0 || natural <= avail) give = 1;
  else if (narrowest <= avail) give = static_cast<double>(avail - narrowest) / static_cast<double>(natural - narrowest);
  else {
    out.Fits = false;
    out.Scale = static_cast<double>(avail) / static_cast<double>(narrowest);
  }
  for (size_t c = 0; c < cols; ++c) {
    ColumnFit& f = fit[c];
    f.Width = give >= 1 ? f.Natural : f.Narrowest + static_cast<int>(std::floor((f.Natural - f.Narrowest) * give));
    if (SplitPartnerKind(in.Kinds[c]) >= 0) {
      // The values share the pair's width as they share its room beyond their longest words.
      const int extra = f.Width - f.Min1 - f.Min2;
      const int room1 = f.Part1 - f.Min1, room2 = f.Part2 - f.Min2;
      f.Width1 = f.Min1 + (room1 + room2 > 0 ? static_cast<int>(std::lround(static_cast<double>(extra) * room1 / (room1 + room2)))
                                             : extra / 2);
      f.Width2 = f.Width - f.Width1;
    }
    out.Width += f.Width;
    if (c) out.HeaderFormat += '|';
    out.HeaderFormat += "^" + ShortestDecimal(sz.ToUnit(f.Width));
    out.Header.push_back({titles[c], true, titleWidths[c]});
  }
  std::string format;
  for (size_t c = 0; c < cols; ++c) {
    const int kind = in.Kinds[c];
    if (c) format += '|';
    if (SplitPartnerKind(kind) >= 0) format += "<" + ShortestDecimal(sz.ToUnit(fit[c].Width1)) + "|>" + ShortestDecimal(sz.ToUnit(fit[c].Width2));
    else format += (IsRightAlignedKind(kind) ? ">" : "<") + ShortestDecimal(sz.ToUnit(fit[c].Width));
  }
  for (size_t r = 0; r < texts.size(); ++r) {
    std::vector<TableCell> cells;
    cells.reserve(cols + 2);
    for (size_t c = 0; c < cols; ++c) {
      cells.push_back(std::move(texts[r][c]));
      if (SplitPartnerKind(in.Kinds[c]) >= 0) cells.push_back(std::move(seconds[r][c]));
    }
    out.Rows.push_back(std::move(cells));
    out.RowFormats.push_back(format);
  }
  return out;
}

std::vector<int> TPortfolioReport::LayoutView(const std::string& view) {
  GlobVars& layout = PrintSettings;
  ApplyView(view, layout);
  std::vector<int> shown;
  // The second values of the split columns and the symbol ride along behind the view's own
  // columns, where they are filled but not printed.
  if (layout.ColPos[SymCol] < 0) layout.ColPos[SymCol] = HelperPosition + SymCol;
  for (int k = 0; k < ColKindCount; ++k) {
    const int partner = SplitPartnerKind(k);
    if (partner >= 0 && layout.ColPos[static_cast<size_t>(k)] >= 0 && layout.ColPos[static_cast<size_t>(partner)] < 0)
      layout.ColPos[static_cast<size_t>(partner)] = HelperPosition + partner;
  }
  grid_.Layout = &layout;
  grid_.ApplyLayout(false);
  std::vector<std::pair<int, int>> order;
  for (int k = 0; k < ColKindCount; ++k) {
    const int col = grid_.GridCol[static_cast<size_t>(k)];
    if (col >= 0 && layout.ColPos[static_cast<size_t>(k)] < HelperPosition) order.emplace_back(col, k);
  }
  std::sort(order.begin(), order.end());
  for (auto& [col, kind] : order) shown.push_back(kind);
  return shown;
}

void TPortfolioReport::FillGrid(int portNumber, size_t expectedRows) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    grid_.ShowStocks();
    // Ends when the grid's fill thread says it finished (it wakes this wait); bounded, and over
    // on shut-down. The slow look only serves the deadline and the cancel flag.
    const WaitResult r = WaitUntil([this] { return !grid_.Busy(); }, Cancel, FillTimeoutMs, 100);
    switch (r) {
      case WaitResult::Done: break;
      case WaitResult::Cancelled:
      case WaitResult::ShuttingDown: throw ECancelPrinting();
      case WaitResult::TimedOut: throw std::runtime_error("The quote grid did not fill portfolio " + std::to_string(portNumber) + " in time");
      case WaitResult::Refused: throw std::runtime_error("The report cannot wait for the quote grid while another wait runs");
    }
    // A fill that found the quotes busy hands nothing over: one more try.
    if (static_cast<size_t>(grid_.RowCount() - 1) >= expectedRows) return;
  }
}

std::set<std::string> TPortfolioReport::WithoutQuote(const std::vector<std::string>& symbols, int64_t receivedSince) {
  std::set<std::string> out;
  LockHold hold(AddSnapLock, "PRINTQUOTES");
  if (!hold) return out;  // unknown: nothing is said or waited for
  for (const std::string& s : symbols) {
    StockQuote q;
    // A quote the last run left in the dump, or one received too long ago, is not current: it is
    // fetched like a missing one. Its own market time does not count (after the close it is old).
    if (GetStockQuote(s, q) < 0 || (q.UpdateTime <= 0 && q.Last == 0) || !q.ThisRun || q.ReceivedTick < receivedSince)
      out.insert(UpperCase(s));
  }
  return out;
}

void TPortfolioReport::FetchQuotes(const std::set<std::string>& symbols) {
  if (symbols.empty() || !MainHooks.FetchNow) return;  // no main window: nothing fetches them
  const std::vector<std::string> queued(symbols.begin(), symbols.end());
  for (const std::string& s : queued) AddPendingSymbol(ReportPendingList, s);
  MainHooks.FetchNow();
  // The fetch worker empties the list when its pass ends, whether the quotes came or not.
  const WaitResult r = WaitUntil([] { return PendingListEmpty(ReportPendingList); }, Cancel, QuoteTimeoutMs, 10);
  if (r == WaitResult::Done) return;
  RemovePendingSymbols(ReportPendingList, queued);  // no longer waited for
  switch (r) {
    case WaitResult::Cancelled:
    case WaitResult::ShuttingDown:
      if (MainHooks.CancelReportFetch) MainHooks.CancelReportFetch();
      throw ECancelPrinting();
    case WaitResult::Refused: throw std::runtime_error("The report cannot wait for quotes while another wait runs");
    default: break;  // printed with what came; the rest is said on the page
  }
}

int TPortfolioReport::FindPortfolio(const std::string& name, size_t& rows) {
  LockHold hold(PortLock, "PRINTPORT");
  if (!hold) throw std::runtime_error("The portfolios are busy; try again");
  for (int i = 1; i <= PortCount(); ++i) {
    if (PortAt(i)->Name == name) {
      rows = PortAt(i)->Rows.size();
      return i;
    }
  }
  return 0;
}

bool TPortfolioReport::PrintPortfolio(const std::string& name, const ReportChoices& choices) {
  const std::vector<int> kinds = LayoutView(choices.View);
  size_t rowCount = 0;
  const int number = FindPortfolio(name, rowCount);
  if (!number) return false;  // never printed with another portfolio's rows
  grid_.PortNumber = number;
  grid_.ReceivedSince = receivedSince_;
  std::string symbols;
  grid_.GetPort(symbols);
  int sortKind = -1;
  for (int k = 0; k < ColKindCount; ++k)
    if (choices.Options.SortBy == ColTitles[static_cast<size_t>(k)] && grid_.GridCol[static_cast<size_t>(k)] >= 0) sortKind = k;
  grid_.SortCol = sortKind;
  grid_.SortDown = !choices.Options.SortUp;  // "Up" lists the smallest first
  // A portfolio the main window does not show may have no quotes of this run yet: they are
  // fetched first.
  std::vector<std::string> list;
  for (size_t at = 0; at < symbols.size();) {
    const size_t end = std::min(symbols.find(',', at), symbols.size());
    if (end > at) list.push_back(symbols.substr(at, end - at));
    at = end + 1;
  }
  std::set<std::string> unquoted = WithoutQuote(list, receivedSince_);
  if (!unquoted.empty()) {
    FetchQuotes(unquoted);
    unquoted = WithoutQuote(std::vector<std::string>(unquoted.begin(), unquoted.end()), receivedSince_);
  }
  FillGrid(number, rowCount);

  // Title block, in the cell spacing every report starts from.
  pp_.PadCellX = basePadX_;
  pp_.PadCellY = basePadY_;
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(16);
  font.setBold(true);
  pp_.SetFont(font);
  pp_.WriteLine("");
  pp_.WriteLineAligned(2, "Portfolio: \"" + name + "\"");
  font.setPointSize(10);
  pp_.SetFont(font);
  const TDateTime now = MarketNow();
  pp_.WriteLineAligned(2, "Printed on: " + FormatDateTime("dddd, mmmm d, yyyy", now) + " at " +
                              FormatDateTime("h:mm:ss am/pm", now) + " Eastern Standard Time");
  pp_.WriteLine("");
  font.setBold(false);

  ReportInput in;
  in.PortName = name;
  in.Kinds = kinds;
  for (int r = 1; r < grid_.RowCount(); ++r) {
    std::vector<std::string> cells, partners;
    for (int kind : kinds) {
      cells.push_back(grid_.Cells(grid_.GridCol[static_cast<size_t>(kind)], r));
      const int partner = SplitPartnerKind(kind);
      partners.push_back(partner >= 0 ? grid_.Cells(grid_.GridCol[static_cast<size_t>(partner)], r) : std::string());
    }
    // A quote that could not be fetched is said in the row's first quote cell.
    if (unquoted.count(UpperCase(StripMarks(grid_.Cells(grid_.GridCol[SymCol], r))))) {
      for (size_t c = 0; c < kinds.size(); ++c)
        if (IsQuoteKind(kinds[c]) && StripMarks(cells[c]).empty()) {
          cells[c] = NoQuoteText;
          break;
        }
    }
    in.Cells.push_back(std::move(cells));
    in.Partners.push_back(std::move(partners));
  }
  // Texts of two cells never touch, even without padding.
  const int minGap = std::max(2, pp_.Metrics().DpiX / 50);
  ReportSizing sizing;
  sizing.ToUnit = [this](int pixels) { return pp_.PixelsToUnitX(pixels); };
  sizing.Pad = std::max(choices.Options.PadX * 6, minGap);
  sizing.SepWidth = 4;
  sizing.Available = pp_.PrintableWidth();
  // A table wider than the page, even with its long texts wrapped, is printed smaller as a
  // whole rather than losing columns.
  const double chosenPoints = std::clamp(choices.Options.PortFont, 4, 30);
  double points = chosenPoints;
  QFont bold;
  ReportTable table;
  for (int attempt = 0;; ++attempt) {
    font.setPointSizeF(points);
    bold = font;
    bold.setBold(true);
    sizing.Measure = [normal = pp_.MeasureIn(font), heavy = pp_.MeasureIn(bold)](const std::string& text, bool isBold) {
      return (isBold ? heavy : normal)(QString::fromStdString(text));
    };
    table = BuildReportTable(in, sizing);
    if (table.Fits || attempt == 8) break;
    points *= table.Scale * 0.98;
    sizing.Pad = std::max(minGap, static_cast<int>(sizing.Pad * table.Scale));
  }
  pp_.PadCellX = pp_.PixelsToUnitX(sizing.Pad);
  pp_.PadCellY = static_cast<int>(std::lround(choices.Options.PadY * 6 * points / chosenPoints));
  pp_.SetFont(bold);
  pp_.SetTableFormat(table.HeaderFormat);
  pp_.WriteTableCells(table.Header);
  pp_.SetFont(font);
  for (size_t r = 0; r < table.Rows.size(); ++r) {
    if (r == 0 || table.RowFormats[r] != table.RowFormats[r - 1]) pp_.SetTableFormat(table.RowFormats[r]);
    pp_.WriteTableCells(table.Rows[r]);
  }
  if (grid_.TotalLeftOut > 0)
    pp_.WriteLine("TOTAL leaves out " + std::to_string(grid_.TotalLeftOut) + " row(s) without a quote.");
  return true;
}

bool TPortfolioReport::GeneratePreview(const ReportChoices& choices) {
  if (running_ || pp_.Recording() || pp_.Printing()) return false;
  running_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{running_};
  pp_.SetMarginTop(MarginInches(choices.Options.MarTop));
  pp_.SetMarginLeft(MarginInches(choices.Options.MarLeft));
  pp_.SetMarginRight(MarginInches(choices.Options.MarRight));
  pp_.SetMarginBottom(MarginInches(choices.Options.MarBottom));
  pp_.Title = Branding.ProgFullName + " Printout";
  // Every report starts from the same font, so its first page header never takes the size the
  // previous report ended with (the 35-point notice, say).
  pp_.SetFont(baseFont_);
  pp_.PadCellX = basePadX_;
  pp_.PadCellY = basePadY_;
  // A quote received longer ago than the refresh interval when printing starts is not current.
  receivedSince_ = TickMs() - static_cast<int64_t>(std::max(1, RefreshSecs.load())) * 1000;
  pp_.BeginDoc();
  try {
    bool printed = false;
    for (const std::string& name : choices.Portfolios) {
      size_t rows = 0;
      if (!FindPortfolio(name, rows)) continue;  // a name no portfolio has prints nothing
      // A page break goes between two printed portfolios.
      if (printed && choices.Options.NewPage) pp_.NewPage();
      printed = PrintPortfolio(name, choices) || printed;
    }
    if (choices.Portfolios.empty()) {
      QFont f = pp_.Font();
      f.setPointSize(35);
      f.setBold(true);
      pp_.SetFont(f);
      for (int i = 0; i < 4; ++i) pp_.WriteLine("");
      pp_.WriteLineAligned(2, "Pick portfolio(s) to print.");
    }
    pp_.EndDoc();
  } catch (...) {
    pp_.AbortDoc();
    throw;
  }
  return true;
}
