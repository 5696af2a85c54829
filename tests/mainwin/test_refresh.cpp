// One refresh from the Refresh button to the grid, against the local fake quote site.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "grid/grid_columns.h"
#include "grid/stock_grid.h"
#include "mainwin/main_form.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"

extern char** environ;

namespace {

// tests/fixtures/fake_site.py on a free port of 127.0.0.1; ends when its input closes.
class LocalSite {
public:
  LocalSite() {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string script = std::string(VN_FIXTURES_DIR) + "/fake_site.py";
    char python[] = "python3";
    char* argv[] = {python, script.data(), nullptr};
    const int rc = posix_spawnp(&pid_, "python3", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (rc == 0 && line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
      char buf[64];
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    port_ = std::atoi(line.c_str());
  }
  ~LocalSite() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int Port() const { return port_; }

private:
  pid_t pid_ = -1;
  int input_ = -1;
  int port_ = 0;
};

}  // namespace

TEST(RefreshCycle, RefreshButtonFetchesTheCurrentPortfolioIntoTheGrid) {
  LocalSite site;
  ASSERT_GT(site.Port(), 0);
  std::string sdf;
  ASSERT_TRUE(ReadWholeFile(std::string(VN_FIXTURES_DIR) + "/retrieval/fake.SDF", sdf));
  ReplaceAll(sdf, "@PORT@", std::to_string(site.Port()), false);
  // One symbol a request (the fake site reads blank-separated lists); any hour of any day.
  ReplaceAll(sdf, "SYMBOLLIMIT=25", "SYMBOLLIMIT=1", false);
  ReplaceAll(sdf, "ACTIVEHOURS=09:30-16:00", "", false);
  ReplaceAll(sdf, "ACTIVEDAYS=12345", "", false);
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "refresh.SDF", sdf));
  Ini().WriteString("Stocks", "SiteFile", "refresh.SDF");

  std::vector<PortType> ports(1);
  ports[0].Name = "Fetched";
  ports[0].Id = "PORT9";
  ports[0].Rows.push_back({"ABC", 0, 0, 0, 0, 0, "", {}});
  ports[0].Rows.push_back({"DEFG", 0, 0, 0, 0, 0, "", {}});
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", FormatPortText(ports)));
  Ini().WriteInteger("Stocks", "CurPort", 1);

  {
    TmForm form;
    form.show();
    for (int i = 0; i < 500 && !form.SettingsLoaded(); ++i) WaitAndPump(10);
    ASSERT_TRUE(CurSite);
    form.pbRefreshClick();
    auto updated = [&] { return form.windowTitle().contains(" - Last Update: "); };
    for (int i = 0; i < 1500 && !updated(); ++i) WaitAndPump(10);
    ASSERT_TRUE(updated());
    for (int i = 0; i < 500 && (form.Grid->Busy() || form.Grid->Cells(form.Grid->GridCol[ChangeCol], 2).empty()); ++i)
      WaitAndPump(10);
    TStockGrid& g = *form.Grid;
    EXPECT_EQ(g.Cells(g.GridCol[SymCol], 1), "ABC");
    EXPECT_FALSE(g.Cells(g.GridCol[LastCol], 1).empty());
    EXPECT_EQ(g.Cells(g.GridCol[ChangeCol], 1), "+1.25");
    EXPECT_EQ(g.Cells(g.GridCol[ChangeCol], 2), "+1.25");
    EXPECT_EQ(form.StatusText(), "Site says: Quotes delayed 20 minutes");
    form.close();
  }
  ShutdownHttp();
  ShuttingDown = false;
  CurSite.reset();
  Ini().DeleteKey("Stocks", "SiteFile");
  std::remove((ProgDir + "refresh.SDF").c_str());
}
