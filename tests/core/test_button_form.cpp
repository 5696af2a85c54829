#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QToolButton>

#include <memory>

#include "core/button_form.h"
#include "core/program_state.h"
#include "platform/clock.h"

namespace {

class LookupForm : public TButtonForm {
public:
  void SymbolLookedUp(const std::string& symbol) override { looked.push_back(symbol); }
  std::vector<std::string> looked;
};

}  // namespace

TEST(HandleGlobalHotKey, DispatchesSharedKeysAndLeavesOthers) {
  std::string calls;
  auto rec = [&](char c) { return [&calls, c] { calls += c; }; };
  GlobalHotKeys = {rec('P'), rec('S'), rec('E'), rec('M'), rec('L'), rec('R'), rec('H'), rec('d'), rec('D')};
  const auto ctrl = Qt::ControlModifier, alt = Qt::AltModifier, none = Qt::NoModifier;
  const struct {
    int key;
    Qt::KeyboardModifiers mods;
    const char* called;  // empty: the key stays with the window
  } cases[] = {{Qt::Key_P, ctrl, "P"}, {Qt::Key_S, alt, "S"},   {Qt::Key_E, ctrl, "E"},   {Qt::Key_M, alt, "M"},
               {Qt::Key_L, ctrl, "L"}, {Qt::Key_R, alt, "R"},   {Qt::Key_F5, none, "R"},  {Qt::Key_F1, none, "H"},
               {Qt::Key_F2, none, "d"}, {Qt::Key_F2, ctrl, "d"}, {Qt::Key_F2, Qt::ShiftModifier | ctrl, "D"},
               {Qt::Key_P, none, ""},  {Qt::Key_R, Qt::ShiftModifier, ""}, {Qt::Key_X, ctrl, ""}};
  for (const auto& c : cases) {
    calls.clear();
    int key = c.key;
    HandleGlobalHotKey(key, c.mods);
    EXPECT_EQ(calls, c.called) << c.key;
    EXPECT_EQ(key, *c.called ? 0 : c.key) << c.key;
  }
  // Forms pass the keys they do not handle.
  calls.clear();
  TButtonForm form;
  QKeyEvent press(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
  QApplication::sendEvent(&form, &press);
  EXPECT_EQ(calls, "R");
  // A key whose action nobody installed stays with the window.
  GlobalHotKeys = GlobalHotKeyTable{};
  int key = Qt::Key_F1;
  HandleGlobalHotKey(key, Qt::NoModifier);
  EXPECT_EQ(key, Qt::Key_F1);
}

TEST(TButtonForm, TableOfOpenFormsHoldsAHundred) {
  const size_t before = OpenButtonForms().size();
  std::vector<std::unique_ptr<TButtonForm>> forms;
  for (size_t i = before; i <= MaxButtonForms; ++i) forms.push_back(std::make_unique<TButtonForm>());
  auto listed = [](TButtonForm* f) { auto v = OpenButtonForms(); return std::count(v.begin(), v.end(), f) == 1; };
  EXPECT_EQ(OpenButtonForms().size(), size_t{MaxButtonForms});
  EXPECT_FALSE(listed(forms.back().get()));
  // A closed form frees its entry for the next one.
  forms.erase(forms.begin());
  forms.push_back(std::make_unique<TButtonForm>());
  EXPECT_TRUE(listed(forms.back().get()));
  forms.clear();
  EXPECT_EQ(OpenButtonForms().size(), before);
}

TEST(TButtonForm, LookupButtonHandsTheChosenSymbolOver) {
  LookupForm form;
  form.LookupButtonClick();  // no dialog installed
  std::string answer = "IBM";
  QWidget* parentSeen = nullptr;
  OpenSymbolLookup = [&](QWidget* parent) {
    parentSeen = parent;
    return answer;
  };
  form.ShowLookupButton = true;
  form.RefreshCaptionButtons();
  form.LookupButton()->click();
  EXPECT_EQ(parentSeen, &form);
  answer.clear();  // cancelled
  form.LookupButtonClick();
  EXPECT_EQ(form.looked, std::vector<std::string>{"IBM"});
  OpenSymbolLookup = nullptr;
}

TEST(TButtonForm, CaptionButtonsFollowFlagsAndOption) {
  TButtonForm form;
  form.resize(300, 200);
  EXPECT_FALSE(form.LookupButton()->isVisibleTo(&form));
  form.ShowLookupButton = form.ShowHelpButton = true;
  form.RefreshCaptionButtons();
  EXPECT_TRUE(form.LookupButton()->isVisibleTo(&form) && form.HelpButton()->isVisibleTo(&form));
  EXPECT_EQ(form.HelpButton()->geometry().right(), form.width() - 1);
  EXPECT_LT(form.LookupButton()->geometry().right(), form.HelpButton()->geometry().left());
  form.ShowHelpButton = false;
  form.RefreshCaptionButtons();
  EXPECT_FALSE(form.HelpButton()->isVisibleTo(&form));
  EXPECT_EQ(form.LookupButton()->geometry().right(), form.width() - 1);
  CaptionButtonsOn = false;
  form.RefreshCaptionButtons();
  EXPECT_FALSE(form.LookupButton()->isVisibleTo(&form));
  CaptionButtonsOn = true;
}

TEST(EnsureOnScreen, MovesOnlyFormsWithNoCornerOnAMonitor) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  QWidget form(nullptr, Qt::Window);
  form.setGeometry(screen.right() + 500, screen.bottom() + 500, 200, 100);
  EnsureOnScreen(&form);
  EXPECT_TRUE(screen.contains(form.frameGeometry().topLeft()));
  // One corner on screen is enough to stay put.
  const QPoint partly(screen.left() - 150, screen.top() - 50);
  form.move(partly);
  EnsureOnScreen(&form);
  EXPECT_EQ(form.pos(), partly);
}

// Where the display server tells the session's idle time, input to other programs keeps the
// user active; where it cannot, only input to our own windows counts.
TEST(IsUserInactive, InputToOtherProgramsCountsWhereTheSessionsIdleTimeIsKnown) {
  TestClock clock(1000);
  ScopedClock scoped(clock);
  AdParams.Clear();
  AdParams.Add("INACTIVETIME=2");
  std::optional<int64_t> session;
  SetSessionIdleSource([&] { return session; });
  NoteUserInput();
  clock.Advance(3 * 60000);  // nothing in our windows for three minutes
  session = 1000;            // but the user typed elsewhere a second ago
  EXPECT_FALSE(IsUserInactive());
  session = 3 * 60000;
  EXPECT_TRUE(IsUserInactive());
  session.reset();  // unknown: our own windows' rule
  EXPECT_TRUE(IsUserInactive());
  NoteUserInput();  // input to our windows counts whatever the session says
  session = 10 * 60000;
  EXPECT_FALSE(IsUserInactive());
  SetSessionIdleSource({});
  AdParams.Clear();
}

TEST(IsUserInactive, CountsFromLastInputAgainstInactiveTime) {
  TestClock clock(1000);
  ScopedClock scoped(clock);
  InstallInputActivityFilter();
  // Minutes from the ad parameters; missing or unreadable: 60.
  for (auto [line, minutes] : {std::pair{"INACTIVETIME=2", 2}, {"INACTIVETIME=abc", 60}, {"OTHER=1", 60}}) {
    AdParams.Clear();
    AdParams.Add(line);
    NoteUserInput();
    clock.Advance(minutes * 60000 - 1000);
    EXPECT_FALSE(IsUserInactive()) << line;
    clock.Advance(2000);
    EXPECT_TRUE(IsUserInactive()) << line;
  }
  // Input reaching any widget counts, through the application's filter.
  QWidget w;
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
  QApplication::sendEvent(&w, &press);
  EXPECT_FALSE(IsUserInactive());
  AdParams.Clear();
}
