// Large user files as a user may have them, measured the way the main window meets them, each
// beside a plain reference measured in the same run and beside its goal. Prints seconds, the
// ratio ours/reference and, for the portfolio, the growth of the process's peak memory.
//   Settings: STOCKS.INI with 100,000 keys in section "Views" (goal: under 1 s): the settings
//             file opened, then the views loaded from it. Reference: the same file split into
//             lines and stored in one std::unordered_map.
//   Portfolio: PORT.DAT with one portfolio of 1,000,000 rows over 50,000 symbols (goal: under
//             3 s and 500 MB): loaded, its symbols listed, and shown in a grid on the default
//             view until the grid holds every row. Reference: the same file split into lines
//             and ";" fields, no numbers read.
#include <QApplication>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "platform/messages.h"
#include "platform/string_list.h"

namespace {
double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The lines of a text split at line ends and kept whole: the least any reader does.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> out;
  size_t p = 0;
  while (p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string_view::npos) e = text.size();
    out.push_back(text.substr(p, e - p));
    p = e + 1;
  }
  return out;
}

void Report(const char* label, double ours, double ref, double goal) {
  std::printf("%-34s ours %7.3f s   reference %7.3f s   ratio %6.1f   goal < %.0f s\n", label, ours, ref,
              ours / ref, goal);
}
}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const auto dir = std::filesystem::temp_directory_path() / ("vn_bench_large_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  QApplication app(argc, argv);

  // --- settings: 100,000 views -----------------------------------------------------------------
  {
    std::string ini = "[Stocks]\r\nCurView=View 99999\r\n[Views]\r\n";
    for (int i = 0; i < 100000; ++i) ini += "View " + std::to_string(i) + "=SymCol,LastCol,ChangeCol:1\r\n";
    WriteFileAtomic(ProgDir + "STOCKS.INI", ini);
    const double ours = Seconds([] {
      OpenSettingsFile();
      LoadViews();
      LoadGlobVars(LiveSettings);
      ApplyView(LiveSettings.CurView, LiveSettings);
    });
    std::string text;
    std::unordered_map<std::string, std::string> ref;
    const double reference = Seconds([&] {
      ReadWholeFile(ProgDir + "STOCKS.INI", text);
      for (std::string_view line : Lines(text)) {
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos) ref.emplace(line.substr(0, eq), line.substr(eq + 1));
      }
    });
    if (ViewNames.Count() != 100001) std::printf("settings: %d views loaded, expected 100001\n", ViewNames.Count());
    Report("settings, 100,000 keys in a section", ours, reference, 1);
  }

  // --- portfolio: 1,000,000 rows ---------------------------------------------------------------
  {
    // Written piece by piece, so the peak before the load is not raised by the file's text.
    if (FILE* f = std::fopen((ProgDir + "PORT.DAT").c_str(), "wb")) {
      std::fputs("Big|PORT1|", f);
      for (int i = 0; i < 1000000; ++i) std::fprintf(f, "|S%d;%d;12.5;0;0;0;row", i % 50000, i % 900 + 1);
      std::fputs("\r\n", f);
      std::fclose(f);
    }
    const long before = PeakKb();
    TStockGrid* grid = nullptr;
    const double ours = Seconds([&] {
      LoadPortfolios();
      std::string symbols;
      GetPortSymbols("PORT1", symbols);
      grid = new TStockGrid;
      grid->PortNumber = 1;
      grid->GetPort(symbols);
      grid->ApplyLayout(false);
      grid->ShowStocks();
      while (grid->Busy() || grid->RowCount() < 1000001) WaitAndPump(5);
    });
    const long grown = PeakKb() - before;
    std::string text;
    size_t fields = 0;
    const double reference = Seconds([&] {
      ReadWholeFile(ProgDir + "PORT.DAT", text);
      for (std::string_view line : Lines(text))
        for (char c : line) fields += c == ';' || c == '|';
    });
    Report("portfolio, 1,000,000 rows", ours, reference, 3);
    std::printf("%-34s ours %7.0f MB peak growth   goal < 500 MB   ratio %.2f\n", "portfolio, 1,000,000 rows",
                grown / 1024.0, grown / 1024.0 / 500.0);
    delete grid;
    if (fields == 0) std::printf("no fields\n");
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
