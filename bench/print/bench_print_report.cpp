// A 500-row portfolio report, from the hidden grid's fill to the finished PDF (preview build
// and PDF output timed apart), beside two references that print the same table to PDF: a bare
// QPainter table (measured columns, text and grid lines straight onto the printer, the least
// work such a table takes) and QTextDocument::print. Each runs in a child process of its
// own, so that its peak memory is its own. The report's
// wait for the grid ends as soon as the fill has been handed over (checked every millisecond
// while events are processed), not in the 100 ms steps of a sleep.
#include <QApplication>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/add_snap.h"
#include "core/error_report.h"
#include "core/locks.h"
#include "core/market_clock.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "grid/grid_cells.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "windows/print/portfolio_report.h"

namespace {

constexpr int Rows = 500;
constexpr int Runs = 3;

long StatusKb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string k = std::string(key) + ":";
  while (std::getline(f, line))
    if (line.rfind(k, 0) == 0) return std::atol(line.c_str() + k.size());
  return 0;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

struct Result {
  double BestS = 0, PreviewS = 0, OutputS = 0;
  double PeakMb = 0;
  int Pages = 0;
  long Bytes = 0;
};

// Keeps the run when it is the fastest so far: t0 start, t1 pages laid out, t2 file written.
void KeepBest(Result& r, double t0, double t1, double t2) {
  if (t2 - t0 >= r.BestS) return;
  r.BestS = t2 - t0;
  r.PreviewS = t1 - t0;
  r.OutputS = t2 - t1;
}

std::unique_ptr<QPrinter> PdfPrinter(const QString& file) {
  auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
  p->setOutputFormat(QPrinter::PdfFormat);
  p->setResolution(300);  // as the program's own PDF printer
  p->setPageSize(QPageSize(QPageSize::Letter));
  p->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  p->setOutputFileName(file);
  return p;
}

void Seed() {
  std::vector<PortRowRec> rows;
  for (int i = 0; i < Rows; ++i) {
    const std::string sym = "S" + std::to_string(1000 + i);
    SnapData s;
    s.Symbol = sym;
    s.Last = 20.0f + static_cast<float>(i % 97) * 1.25f;
    s.PrevClose = s.Last - static_cast<float>(i % 7 - 3) * 0.4f;
    s.Volume = 1000.0f * static_cast<float>(i + 1);
    s.Bid = s.Last - 0.05f;
    s.Ask = s.Last + 0.05f;
    s.TickMark = i % 2 ? "U" : "D";
    s.MarketDate = s.QuoteTime = MarketNow();
    AddSnap(s);
    PortRowRec r;
    r.Symbol = sym;
    r.Shares = 10 + i % 50;
    r.BasePrice = s.Last * 0.9;
    rows.push_back(r);
  }
  {
    LockHold hold(PortLock, "BENCH");
    PortType p;
    p.Name = "Bench";
    p.Id = "BENCH1";
    p.Rows = std::move(rows);
    PortList = {std::move(p)};
  }
  SavePortfolios();
  LoadViews();
}

Result RunOurs(const std::string& dir) {
  const QString file = QString::fromStdString(dir + "/ours.pdf");
  auto printer = PdfPrinter(file);
  TPagePrinter pp(nullptr, printer.get());
  pp.TableGrid = true;
  pp.SetFriendlyHeader("&r Page: &p");
  pp.ShowProgress = false;
  TStockGrid grid;
  TPortfolioReport report(pp, grid);
  ReportChoices c;
  c.Portfolios = {"Bench"};
  const long base = StatusKb("VmRSS");
  Result r;
  r.BestS = 1e9;
  for (int i = 0; i < Runs; ++i) {
    const double t0 = Now();
    report.GeneratePreview(c);
    const double t1 = Now();
    pp.PrintPages();
    KeepBest(r, t0, t1, Now());
  }
  r.PeakMb = static_cast<double>(StatusKb("VmHWM") - base) / 1024.0;
  r.Pages = pp.PageCount();
  r.Bytes = QFile(file).size();
  return r;
}

QString Escape(const std::string& s) { return QString::fromStdString(s).toHtmlEscaped(); }

// The default view's kinds in their grid order.
std::vector<int> DefaultKinds() {
  GlobVars layout;
  ApplyView("Default", layout);
  const auto cols = PlaceGridColumns(layout, 0, "");
  std::vector<int> kinds;
  for (int col = 0;; ++col) {
    int kind = -1;
    for (int k = 0; k < ColKindCount; ++k)
      if (cols[static_cast<size_t>(k)] == col) kind = k;
    if (kind < 0) break;
    kinds.push_back(kind);
  }
  return kinds;
}

// Runs a reference over the rows the report prints (the default view's columns of every row)
// onto the same PDF printer, keeping its best run. once() prints the table and sets t1 when
// its layout is done; it returns the page count.
using ReferenceRun = int (*)(QPrinter& printer, const std::vector<int>& kinds, const std::vector<GridRowData>& data, double& t1);
Result RunTimed(const std::string& file, ReferenceRun once) {
  const std::vector<int> kinds = DefaultKinds();
  std::vector<GridRowData> data;
  CollectRows(PortList[0].Rows, data, true);
  auto printer = PdfPrinter(QString::fromStdString(file));
  const long base = StatusKb("VmRSS");
  Result r;
  r.BestS = 1e9;
  for (int run = 0; run < Runs; ++run) {
    const double t0 = Now();
    double t1 = t0;
    r.Pages = once(*printer, kinds, data, t1);
    KeepBest(r, t0, t1, Now());
  }
  r.PeakMb = static_cast<double>(StatusKb("VmHWM") - base) / 1024.0;
  r.Bytes = QFile(QString::fromStdString(file)).size();
  return r;
}

// As the report: Arial 9 at the printer's resolution, 24 dots of padding, margins of 0.5833
// inch, a title line, a header row and grid lines round every cell.
int BareTable(QPrinter& printer, const std::vector<int>& kinds, const std::vector<GridRowData>& data, double& t1) {
  const int dpi = printer.resolution();
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(9 * dpi / 72);
  QFont bold = font;
  bold.setBold(true);
  QFont title = bold;
  title.setPixelSize(16 * dpi / 72);
  const QFontMetricsF fm(font, &printer), fmb(bold, &printer);
  std::vector<std::vector<QString>> cells(data.size());
  std::vector<double> width(kinds.size());
  for (size_t c = 0; c < kinds.size(); ++c) width[c] = fmb.horizontalAdvance(QString::fromUtf8(ColTitles[static_cast<size_t>(kinds[c])]));
  for (size_t i = 0; i < data.size(); ++i) {
    for (size_t c = 0; c < kinds.size(); ++c) {
      cells[i].push_back(QString::fromStdString(CellText(kinds[c], data[i])));
      width[c] = std::max(width[c], fm.horizontalAdvance(cells[i].back()));
    }
  }
  const double pad = 24, margin = 0.5833 * dpi;
  const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
  const double left = margin, top = margin, bottom = paper.height() - margin;
  double tableWidth = 0;
  for (double& w : width) tableWidth += (w = std::ceil(w) + pad);
  const double x0 = left + std::max(0.0, (paper.width() - 2 * margin - tableWidth) / 2);
  const double lh = std::ceil(fm.height()) + 24;
  QPainter p(&printer);
  p.setPen(QPen(Qt::black, 2));
  double y = top;
  int pages = 1;
  p.setFont(title);
  p.drawText(QRectF(left, y, paper.width() - 2 * margin, lh * 2), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Portfolio: \"Bench\""));
  y += lh * 2;
  auto row = [&](const std::vector<QString>& texts, bool header) {
    if (y + lh > bottom) {
      printer.newPage();
      ++pages;
      y = top;
    }
    double x = x0;
    p.drawLine(QPointF(x0, y), QPointF(x0 + tableWidth, y));
    p.drawLine(QPointF(x0, y + lh), QPointF(x0 + tableWidth, y + lh));
    for (size_t c = 0; c < texts.size(); ++c) {
      p.drawLine(QPointF(x, y), QPointF(x, y + lh));
      const int align = header ? Qt::AlignHCenter : IsRightAlignedKind(kinds[c]) ? Qt::AlignRight : Qt::AlignLeft;
      p.drawText(QRectF(x + pad / 2, y, width[c] - pad, lh), align | Qt::AlignVCenter, texts[c]);
      x += width[c];
    }
    p.drawLine(QPointF(x, y), QPointF(x, y + lh));
    y += lh;
  };
  std::vector<QString> titles;
  for (int k : kinds) titles.push_back(QString::fromUtf8(ColTitles[static_cast<size_t>(k)]));
  p.setFont(bold);
  row(titles, true);
  p.setFont(font);
  t1 = Now();
  for (const auto& texts : cells) row(texts, false);
  p.end();
  return pages;
}

int TextDocument(QPrinter& printer, const std::vector<int>& kinds, const std::vector<GridRowData>& data, double& t1) {
  QString html = QStringLiteral("<h2 align=center>Portfolio: \"Bench\"</h2><table border=1 cellspacing=0 cellpadding=2 align=center><tr>");
  for (int k : kinds) html += "<th>" + Escape(ColTitles[static_cast<size_t>(k)]) + "</th>";
  html += "</tr>";
  for (const GridRowData& row : data) {
    html += "<tr>";
    for (int k : kinds) html += "<td>" + Escape(CellText(k, row)) + "</td>";
    html += "</tr>";
  }
  html += "</table>";
  QTextDocument doc;
  doc.setDefaultFont(QFont(QStringLiteral("Arial"), 9));
  // Paginated for the printer's page here, so print() only paints.
  doc.setPageSize(printer.pageRect(QPrinter::Point).size());
  doc.setHtml(html);
  const int pages = doc.pageCount();
  t1 = Now();
  doc.print(&printer);
  return pages;
}

Result RunBare(const std::string& dir) { return RunTimed(dir + "/bare.pdf", BareTable); }
Result RunReference(const std::string& dir) { return RunTimed(dir + "/reference.pdf", TextDocument); }

Result InChild(Result (*run)(const std::string&), const std::string& dir) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    static int argc = 1;
    static char name[] = "bench_print_report";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const Result result = run(dir);
    if (write(fds[1], &result, sizeof result) != static_cast<ssize_t>(sizeof result)) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Result result;
  const bool ok = read(fds[0], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a run failed\n");
    std::exit(1);
  }
  return result;
}

}  // namespace

int main() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const auto dir = std::filesystem::temp_directory_path() / ("vn_bench_print_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  SuppressErrorDialogs(true);
  OpenSettingsFile();
  Seed();
  const Result ours = InChild(RunOurs, dir.string());
  const Result bare = InChild(RunBare, dir.string());
  const Result ref = InChild(RunReference, dir.string());
  std::printf("500-row portfolio report to PDF, best of %d, each side in its own process:\n", Runs);
  std::printf("  ours: %.1f ms (grid fill + preview build %.1f ms, PDF output %.1f ms), %d pages, %ld bytes, peak memory growth %.1f MB\n",
              ours.BestS * 1e3, ours.PreviewS * 1e3, ours.OutputS * 1e3, ours.Pages, ours.Bytes, ours.PeakMb);
  std::printf("  bare QPainter table: %.1f ms (texts + widths %.1f ms, drawing %.1f ms), %d pages, %ld bytes, peak memory growth %.1f MB\n",
              bare.BestS * 1e3, bare.PreviewS * 1e3, bare.OutputS * 1e3, bare.Pages, bare.Bytes, bare.PeakMb);
  std::printf("  QTextDocument::print: %.1f ms (HTML + layout %.1f ms, print %.1f ms), %d pages, %ld bytes, peak memory growth %.1f MB\n",
              ref.BestS * 1e3, ref.PreviewS * 1e3, ref.OutputS * 1e3, ref.Pages, ref.Bytes, ref.PeakMb);
  std::printf("  time ratio: ours / bare table %.2f (goal <= 1.2), ours / QTextDocument %.2f\n", ours.BestS / bare.BestS,
              ours.BestS / ref.BestS);
  std::printf("  memory ratio: ours / bare table %.2f, ours / QTextDocument %.2f\n", bare.PeakMb > 0 ? ours.PeakMb / bare.PeakMb : 0.0,
              ref.PeakMb > 0 ? ours.PeakMb / ref.PeakMb : 0.0);
  if (const char* keep = std::getenv("VN_BENCH_KEEP")) {
    std::filesystem::copy_file(dir / "ours.pdf", std::filesystem::path(keep) / "bench_ours.pdf",
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
