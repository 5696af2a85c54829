// One refresh from the Refresh button to the grid, against the local fake quote site.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/fake_site.h"
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

TEST(RefreshCycle, RefreshButtonFetchesTheCurrentPortfolioIntoTheGrid) {
  FakeSite site;
  ASSERT_TRUE(site.Running());
  std::string sdf = SiteFixtureText("fake.SDF", site.Port());
  // Both symbols in one comma-joined request; any hour of any day.
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
    // The first pass starts by itself once the settings are loaded.
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
