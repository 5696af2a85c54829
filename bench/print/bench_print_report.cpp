// A 500-row portfolio report, from the hidden grid's fill to the finished PDF (preview build
// and PDF output timed apart), beside QTextDocument::print of the same table to PDF. Each
// side runs in a child process of its own, so that its peak memory is its own. The report's
// wait for the grid ends as soon as the fill has been handed over (checked every millisecond
// while events are processed), not in the 100 ms steps of a sleep.
#include <QApplication>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
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

Result RunReference(const std::string& dir) {
  const QString file = QString::fromStdString(dir + "/reference.pdf");
  // The same texts the report prints: the default view's columns of every row.
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
  std::vector<GridRowData> data;
  CollectRows(PortList[0].Rows, data, true);
  auto printer = PdfPrinter(file);
  const long base = StatusKb("VmRSS");
  Result r;
  r.BestS = 1e9;
  int pages = 0;
  for (int i = 0; i < Runs; ++i) {
    const double t0 = Now();
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
    doc.setPageSize(printer->pageRect(QPrinter::Point).size());
    doc.setHtml(html);
    pages = doc.pageCount();
    const double t1 = Now();
    doc.print(printer.get());
    KeepBest(r, t0, t1, Now());
  }
  r.PeakMb = static_cast<double>(StatusKb("VmHWM") - base) / 1024.0;
  r.Pages = pages;
  r.Bytes = QFile(file).size();
  return r;
}

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
  const Result ref = InChild(RunReference, dir.string());
  std::printf("500-row portfolio report to PDF, best of %d, each side in its own process:\n", Runs);
  std::printf("  time: ours %.1f ms (grid fill + preview build %.1f ms, PDF output %.1f ms, %d pages, %ld bytes),"
              " QTextDocument::print %.1f ms (HTML + layout %.1f ms, print %.1f ms, %d pages, %ld bytes),"
              " ratio %.2f (goal <= 1.5)\n",
              ours.BestS * 1e3, ours.PreviewS * 1e3, ours.OutputS * 1e3, ours.Pages, ours.Bytes, ref.BestS * 1e3,
              ref.PreviewS * 1e3, ref.OutputS * 1e3, ref.Pages, ref.Bytes, ours.BestS / ref.BestS);
  std::printf("  peak memory growth: ours %.1f MB, QTextDocument::print %.1f MB, ratio %.2f (goal < 2)\n", ours.PeakMb,
              ref.PeakMb, ref.PeakMb > 0 ? ours.PeakMb / ref.PeakMb : 0.0);
  if (const char* keep = std::getenv("VN_BENCH_KEEP")) {
    std::filesystem::copy_file(dir / "ours.pdf", std::filesystem::path(keep) / "bench_ours.pdf",
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
