#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>

#include "core/button_form.h"
#include "core/chart_cache.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "platform/ini_file.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "prefs/view_editor.h"

TEST(ViewEditor, NamesDefaultAndCommit) {
  Ini().EraseSection("Views");
  LoadViews();
  ViewEditor ed;
  ed.Load();
  EXPECT_EQ(ed.Add("Mine", 0), 1);
  EXPECT_EQ(ed.Add("MINE"), -1);  // names compare without regard to case
  EXPECT_EQ(ed.Add("bad]name"), -1);
  EXPECT_EQ(ed.Add(""), -1);
  EXPECT_FALSE(ed.Delete(0));
  EXPECT_TRUE(ed.SetColumns(1, {{SymCol, 0}, {GainCol, StyleSignColors}}));
  EXPECT_EQ(ed.Add("Spare", 1), 2);
  EXPECT_EQ(ed.Columns(2), ed.Columns(1));  // a new view starts as a copy

  GlobVars live;
  live.CurView = "Spare";
  ASSERT_TRUE(ed.Delete(2));
  ed.Commit(live);
  EXPECT_EQ(live.CurView, "Default");  // its view is gone
  EXPECT_EQ(Ini().ReadString("Views", "Mine", ""), "SymCol,GainCol:1");
  LoadViews();
  ASSERT_EQ(ViewNames.Count(), 2);
  EXPECT_EQ(ViewNames[1], "Mine");
}

TEST(PreferencesDialog, OpensAtItsPageEditsAndSaves) {
  Ini().EraseSection("Views");
  LoadViews();
  LiveSettings = GlobVars();
  ChartCacheMB = 0;
  std::vector<std::string> notices;
  PrefsHooks.Notice = [&](QWidget*, const std::string& t) { notices.push_back(t); };

  CurPrefsTab = PrefsTabNews;
  TdlgPref dlg(nullptr);
  EXPECT_EQ(dlg.Pages->tabText(dlg.Pages->currentIndex()), "News");
  // Every tag finds its own page; an unknown one falls back to the first.
  for (int tag : {PrefsTabViews, PrefsTabNews, PrefsTabCharts, PrefsTabMisc}) {
    const int page = dlg.PageOfTag(tag);
    ASSERT_GE(page, 0);
    ASSERT_LT(page, dlg.Pages->count());
    dlg.Pages->setCurrentIndex(page);
    const std::string title = dlg.Pages->tabText(page).toStdString();
    EXPECT_EQ(title, tag == PrefsTabViews ? "Views" : tag == PrefsTabNews ? "News" : tag == PrefsTabCharts ? "Charts" : "Misc")
        << tag;
  }
  EXPECT_NE(dlg.PageOfTag(PrefsTabMisc), 0);
  EXPECT_EQ(dlg.PageOfTag(12345), 0);

  dlg.cbNewsTwoPanes->setChecked(true);
  dlg.cbNewsBrowserOff->setChecked(true);
  WorkSettings.PriceClr = RGBColor(1, 2, 3);

  // A new view with the first two columns of the list unchecked.
  dlg.dfViewName->setText("Lean");
  dlg.AddViewClick();
  ASSERT_EQ(dlg.lbViews->currentItem()->text().toStdString(), "Lean");
  dlg.lbColumns->item(0)->setCheckState(Qt::Unchecked);
  dlg.lbColumns->item(1)->setCheckState(Qt::Unchecked);
  dlg.dfViewName->setText("Lean");
  dlg.AddViewClick();  // a name in use is refused
  ASSERT_EQ(notices.size(), 1u);

  // The time synchronisation is not there yet; the look-up hands its symbol over, modally.
  dlg.pbSyncClick();
  EXPECT_EQ(notices.size(), 2u);
  int depthInside = -1;
  OpenSymbolLookup = [&](QWidget*) {
    depthInside = ModalDepth;
    return std::string("MSFT");
  };
  dlg.SymbolLookupClick();
  OpenSymbolLookup = nullptr;
  EXPECT_EQ(depthInside, 1);
  EXPECT_EQ(ModalDepth, 0);
  EXPECT_EQ(dlg.dfSymbol->text().toStdString(), "MSFT");

  dlg.show();
  WaitAndPump(50);
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  dlg.Pages->setCurrentIndex(dlg.PageOfTag(PrefsTabViews));
  WaitAndPump(50);
  EXPECT_TRUE(dlg.grab().save(QString::fromStdString(dir + "/preferences.png")));

  dlg.pbOKClick();
  EXPECT_TRUE(LiveSettings.NewsTwoPanes);
  EXPECT_TRUE(LiveSettings.NewsBrowserOff);
  EXPECT_EQ(LiveSettings.PriceClr, RGBColor(1, 2, 3));
  EXPECT_EQ(LiveSettings.CurView, "Lean");
  EXPECT_EQ(ChartCacheMB, 1);
  IniFile ini(ProgDir + "STOCKS.INI");
  EXPECT_EQ(ini.ReadString("News", "TwoPanes", ""), "YES");
  EXPECT_EQ(ini.ReadString("Stocks", "CurView", ""), "Lean");
  const ViewColumns lean = ParseViewColumns(ini.ReadString("Views", "Lean", ""));
  const ViewColumns def = ParseViewColumns(DefaultViewText);
  ASSERT_EQ(lean.size(), def.size() - 2);
  EXPECT_EQ(lean.front(), def[2]);
  PrefsHooks = {};
}

TEST(PreferencesDialog, AViewWithNoColumnIsRefusedWithAMessage) {
  Ini().EraseSection("Views");
  LoadViews();
  LiveSettings = GlobVars();
  std::vector<std::string> notices;
  PrefsHooks.Notice = [&](QWidget*, const std::string& t) { notices.push_back(t); };
  CurPrefsTab = PrefsTabViews;
  TdlgPref dlg(nullptr);
  dlg.dfViewName->setText("Empty");
  dlg.AddViewClick();
  const int emptyRow = dlg.lbViews->currentRow();
  for (int i = 0; i < dlg.lbColumns->count(); ++i) dlg.lbColumns->item(i)->setCheckState(Qt::Unchecked);
  // Neither OK, nor a new view, nor another view takes it.
  EXPECT_FALSE(dlg.pbOKClick());
  dlg.dfViewName->setText("Other");
  dlg.AddViewClick();
  dlg.SelectView(0);
  ASSERT_EQ(notices.size(), 3u);
  for (const std::string& n : notices) EXPECT_FALSE(n.empty());
  EXPECT_EQ(dlg.lbViews->currentRow(), emptyRow);
  EXPECT_NE(LiveSettings.CurView, "Empty");
  // Ticking one column again lets it through.
  dlg.lbColumns->item(0)->setCheckState(Qt::Checked);
  EXPECT_TRUE(dlg.pbOKClick());
  EXPECT_EQ(LiveSettings.CurView, "Empty");
  PrefsHooks.Notice = nullptr;
}
