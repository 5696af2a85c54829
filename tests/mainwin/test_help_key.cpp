#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <memory>
#include <string>

#include "ads/update/update_window.h"
#include "charts/chart_window.h"
#include "charts/hist_new_window.h"
#include "charts/hist_window.h"
#include "charts/pick_indicator_dialog.h"
#include "core/branding.h"
#include "core/button_form.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "mainwin/main_form.h"
#include "platform/messages.h"
#include "windows/dialogs/about_dialog.h"
#include "windows/dialogs/login_dialog.h"
#include "windows/dialogs/lookup_dialog.h"
#include "windows/dialogs/time_sync_dialog.h"
#include "windows/news/news_window.h"
#include "windows/print/print_dialog.h"
#include "windows/print/warning_dialog.h"
#include "windows/web/browser_window.h"

namespace {

// The help box F1 left over this window; closed by a click on its OK button.
bool TakeHelpBox(QWidget* window) {
  WaitAndPump(10);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box || !box->isVisible() || box->text() != "No help file is installed.") continue;
    const bool over = box->parentWidget() == window;
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    WaitAndPump(10);
    return over;
  }
  return false;
}

}  // namespace

// Every window that carries the program's help answers F1 in the same way: without a help file
// it says so in a box over that window, not in the main window's status line.
TEST(HelpKey, F1InEveryWindowSaysThereIsNoHelpFile) {
  std::string help;
  GetHelpFileName(help);
  ASSERT_FALSE(std::filesystem::exists(ProgDir + help));
  InstallInputActivityFilter();  // as the program does at start
  setenv("VANTORA_NO_BROWSER", "1", 1);  // the news and browser windows without the engine
  TmForm main;
  main.show();
  UpdatePlan plan;
  std::vector<std::pair<std::string, QWidget*>> windows;
  std::vector<QPointer<QWidget>> owned;  // freed in reverse (some are children of others)
  auto add = [&](const char* name, QWidget* w, bool show) {
    if (show) w->show();
    windows.emplace_back(name, w);
  };
  add("main window", &main, false);
  auto* chart = new TdlgChart("HELPX");
  owned.emplace_back(chart);
  add("intraday chart", chart, true);
  owned.emplace_back(new TdlgPickInd(chart));
  add("indicator picker", owned.back().data(), true);
  owned.emplace_back(new TfrmHist("HELPX"));
  add("history window", owned.back().data(), false);
  owned.emplace_back(new TFrmHistNew("HELPX"));
  add("second history window", owned.back().data(), false);
  owned.emplace_back(new TdlgPrintPort(&main));
  add("print dialog", owned.back().data(), false);
  owned.emplace_back(new TdlgWarning(&main));
  add("warning dialog", owned.back().data(), true);
  owned.emplace_back(new TfrmNews(&main));
  add("news window", owned.back().data(), true);
  owned.emplace_back(new TfrmIE(&main));
  add("browser window", owned.back().data(), true);
  owned.emplace_back(new TdlgLookup(&main));
  add("look-up dialog", owned.back().data(), true);
  owned.emplace_back(new TdlgPass(std::make_shared<HTTPSite>(), "HELP.SDF", &main));
  add("site login dialog", owned.back().data(), true);
  owned.emplace_back(new TftmSync(&main));
  add("time synchronisation", owned.back().data(), true);
  owned.emplace_back(new TfrmUpdate(&main, false));
  add("update window", owned.back().data(), false);
  owned.emplace_back(new TdlgUpdateFiles(&main, plan));
  add("update file picker", owned.back().data(), true);
  owned.emplace_back(new TdlgABout(&main));
  add("about box", owned.back().data(), true);
  for (auto& [name, w] : windows) {
    SCOPED_TRACE(name);
    QWidget* target = w->focusWidget() ? w->focusWidget() : w;
    QTest::keyClick(target, Qt::Key_F1);
    EXPECT_TRUE(TakeHelpBox(w));
  }
  // The help buttons of the chart windows' captions do the same.
  QTest::mouseClick(chart->HelpButton(), Qt::LeftButton);
  EXPECT_TRUE(TakeHelpBox(chart));
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) delete it->data();
  unsetenv("VANTORA_NO_BROWSER");
  main.close();
  ShuttingDown = false;
}
