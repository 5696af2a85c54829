#include "windows/print/portfolio_report.h"

#include <algorithm>
#include <stdexcept>

#include "core/branding.h"
#include "core/locks.h"
#include "core/market_clock.h"
#include "core/portfolios.h"
#include "core/symbols.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
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

namespace {

constexpr int HelperPosition = 10000;

// The grid's alignment marks are not part of the value.
std::string StripMarks(const std::string& text) {
  const size_t start = text.find_first_not_of("<>");
  return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

ReportTable BuildReportTable(const ReportInput& in, const std::function<double(const std::string&, bool)>& measure,
                             double pad, double sepWidth) {
  const size_t cols = in.Kinds.size();
  // Per column: width, and for split columns the widths of both values.
  std::vector<double> width(cols, 0), first(cols, 0), second(cols, 0);
  std::vector<std::vector<TableCell>> texts(in.Cells.size(), std::vector<TableCell>(cols));
  std::vector<std::vector<std::string>> seconds(in.Cells.size(), std::vector<std::string>(cols));
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
        seconds[r][c] = c < partners.size() ? StripMarks(partners[c]) : std::string();
        first[c] = std::max(first[c], measure(cell.Text, false));
        second[c] = std::max(second[c], measure(seconds[r][c], false));
      } else {
        width[c] = std::max(width[c], measure(kind == ChartCol ? cell.Text : text, false));
      }
    }
  }
  ReportTable out;
  for (size_t c = 0; c < cols; ++c) {
    const int kind = in.Kinds[c];
    const std::string title = kind == SepCol || kind == ChartCol ? std::string() : ColTitles[static_cast<size_t>(kind)];
    const double titleWidth = measure(title, true) + pad;
    if (kind == SepCol) {
      width[c] = sepWidth + pad;
    } else if (SplitPartnerKind(kind) >= 0) {
      first[c] += pad;
      second[c] += pad;
      if (first[c] + second[c] < titleWidth) {
        // Both values share the title's width.
        const double parts = first[c] + second[c];
        if (parts > 0) {
          first[c] *= titleWidth / parts;
          second[c] *= titleWidth / parts;
        } else {
          first[c] = second[c] = titleWidth / 2;
        }
      }
      width[c] = first[c] + second[c];
    } else {
      width[c] = std::max(width[c] + pad, titleWidth);
    }
    if (c) out.HeaderFormat += '|';
    out.HeaderFormat += "^" + ShortestDecimal(width[c]);
    out.Header.push_back({title, true});
  }
  for (size_t r = 0; r < texts.size(); ++r) {
    std::vector<TableCell> cells;
    std::string format;
    for (size_t c = 0; c < cols; ++c) {
      const int kind = in.Kinds[c];
      if (c) format += '|';
      if (SplitPartnerKind(kind) >= 0) {
        format += "<" + ShortestDecimal(first[c]) + "|>" + ShortestDecimal(second[c]);
        cells.push_back(texts[r][c]);
        cells.push_back({seconds[r][c], true});
      } else {
        format += (IsRightAlignedKind(kind) ? ">" : "<") + ShortestDecimal(width[c]);
        cells.push_back(texts[r][c]);
      }
    }
    out.Rows.push_back(std::move(cells));
    out.RowFormats.push_back(std::move(format));
  }
  return out;
}

std::vector<int> TPortfolioReport::LayoutView(const std::string& view) {
  GlobVars& layout = PrintSettings;
  ApplyView(view, layout);
  std::vector<int> shown;
  // The second values of the split columns ride along behind the view's own columns, where
  // they are filled but not printed.
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
  std::string symbols;
  grid_.GetPort(symbols);
  int sortKind = -1;
  for (int k = 0; k < ColKindCount; ++k)
    if (choices.Options.SortBy == ColTitles[static_cast<size_t>(k)] && grid_.GridCol[static_cast<size_t>(k)] >= 0) sortKind = k;
  grid_.SortCol = sortKind;
  grid_.SortDown = !choices.Options.SortUp;  // "Up" lists the smallest first
  FillGrid(number, rowCount);

  // Title block.
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
  font.setPointSize(std::clamp(choices.Options.PortFont, 4, 30));
  font.setBold(false);
  pp_.SetFont(font);

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
    in.Cells.push_back(std::move(cells));
    in.Partners.push_back(std::move(partners));
  }
  QFont bold = font;
  bold.setBold(true);
  const QFontMetricsF normalMetrics = pp_.MetricsOf(font), boldMetrics = pp_.MetricsOf(bold);
  auto measure = [&](const std::string& text, bool isBold) {
    if (text.empty()) return 0.0;
    return pp_.PixelsToUnitX((isBold ? boldMetrics : normalMetrics).horizontalAdvance(QString::fromStdString(text)));
  };
  const ReportTable table = BuildReportTable(in, measure, pp_.PixelsToUnitX(choices.Options.PadX * 6), pp_.PixelsToUnitX(4));
  pp_.PadCellX = 0;
  pp_.PadCellY = choices.Options.PadY * 6;
  pp_.SetFont(bold);
  pp_.SetTableFormat(table.HeaderFormat);
  pp_.WriteTableCells(table.Header);
  pp_.SetFont(font);
  for (size_t r = 0; r < table.Rows.size(); ++r) {
    pp_.SetTableFormat(table.RowFormats[r]);
    pp_.WriteTableCells(table.Rows[r]);
  }
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
