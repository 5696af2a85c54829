#include "core/ad_locations.h"

#include <QApplication>
#include <QLabel>
#include <QRegion>
#include <QScreen>
#include <QWindow>

#include <vector>

#include "core/locks.h"
#include "platform/window_stacking.h"

std::recursive_mutex AdLock;

AdLocArray<bool> AdLocUsed{};
AdLocArray<int> AdLocKind{};
AdLocArray<QPointer<QWidget>> AdLocImage;
AdLocArray<TAnimGif*> AdLocGif{};
AdLocArray<QPointer<QLabel>> AdLocBlurb1, AdLocBlurb2;
AdLocArray<QPointer<QWidget>> AdLocHost;
AdLocArray<bool> AdLocMinimized{}, AdLocBlocked{};
AdLocArray<std::string> AdLocData;
AdLocArray<std::string> AdLocNextLink;
AdLocArray<bool> AdLocNextRedirect{};
AdLocArray<std::string> AdLocLink;
AdLocArray<bool> AdLocRedirect{};
AdLocArray<int> AdLocRow{};
AdLocArray<TDateTime> AdLocShowTime{};
AdLocArray<int> AdLocPeriod{};

std::array<GIFAdRec, AdRowCount + 1> AdTable;
AdSettingsRec AdSettings;
std::atomic<bool> AdParamsChanged{false};
std::function<void()> MainBannerClickSteps;

namespace {

bool ValidLocation(int location) { return location >= 1 && location <= AdLocationCount; }

void ForgetControls(int i) {
  AdLocImage[i] = nullptr;
  AdLocGif[i] = nullptr;
  AdLocBlurb1[i] = nullptr;
  AdLocBlurb2[i] = nullptr;
  AdLocHost[i] = nullptr;
}

}  // namespace

int RegisterAdLocation(int kind) {
  std::lock_guard lock(AdLock);
  int first = LockedRandom(AdLocationCount, true) + 1;
  if (!ValidLocation(first) || AdLocUsed[first]) {
    first = 0;
    for (int i = 1; i <= AdLocationCount && !first; ++i)
      if (!AdLocUsed[i]) first = i;
  }
  if (!first) return 0;
  AdLocUsed[first] = true;
  AdLocKind[first] = kind;
  AdLocData[first].clear();
  AdLocNextLink[first].clear();
  AdLocShowTime[first] = 0;
  return first;
}

void UnregisterAdLocation(int location) {
  if (!ValidLocation(location)) return;
  std::lock_guard lock(AdLock);
  AdLocKind[location] = 0;
  AdLocUsed[location] = false;
  ForgetControls(location);
  AdLocData[location].clear();
  AdLocMinimized[location] = AdLocBlocked[location] = true;
}

bool HasAdsForLocation(int kind) {
  std::lock_guard lock(AdLock);
  for (int r = 1; r <= AdRowCount; ++r)
    if (AdTable[r].Location == kind && !AdTable[r].Source.empty()) return true;
  return false;
}

void ClearAdLocations() {
  std::lock_guard lock(AdLock);
  for (int i = 1; i <= AdLocationCount; ++i) {
    AdLocUsed[i] = false;
    AdLocKind[i] = 0;
    AdLocMinimized[i] = AdLocBlocked[i] = true;
    AdLocShowTime[i] = 0;
    AdLocPeriod[i] = 1000;
    ForgetControls(i);
    AdLocLink[i].clear();
    AdLocData[i].clear();
    AdLocNextLink[i].clear();
    AdLocRow[i] = 0;
  }
}

void ResetAdTimers() {
  std::lock_guard lock(AdLock);
  for (int i = 1; i <= AdLocationCount; ++i) {
    AdLocShowTime[i] = 0;
    AdLocPeriod[i] = 1000;
  }
}

void AdSettingsChanged() {}

char ClassifyObscured(const QRect& client, const QRegion& visible, double& hiddenPercent) {
  hiddenPercent = 0;
  const QRegion clip = visible.intersected(client);
  if (clip.isEmpty()) return 'C';
  if (clip.rectCount() == 1) {
    const QRect r = clip.boundingRect();
    if (r == client) return 'V';
    // QRect sizes already count both edges.
    const double all = double(client.width()) * client.height();
    const double seen = double(r.width()) * r.height();
    hiddenPercent = all > 0 ? (all - seen) / all * 100.0 : 0;
    return 'P';
  }
  // A complex region: sampled in cells of 7 x 7 pixels.
  const int cols = (client.width() + 7) / 7, rows = (client.height() + 7) / 7;
  int hidden = 0;
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < cols; ++col)
      if (!clip.intersects(QRect(client.left() + col * 7, client.top() + row * 7, 7, 7))) ++hidden;
  hiddenPercent = double(hidden) * 100.0 / (double(cols) * rows);
  return 'P';
}

char MeasureObscured(QWidget* control, double& hiddenPercent) {
  hiddenPercent = 0;
  if (!control || !control->isVisible() || control->window()->isMinimized()) return 'C';
  // Covered by its own window's widgets and clipped by its parents.
  QRegion visible = control->visibleRegion();
  // Clipped by the screen.
  if (const QScreen* screen = control->screen()) {
    const QRect onScreen(control->mapFromGlobal(screen->virtualGeometry().topLeft()), screen->virtualGeometry().size());
    visible &= QRegion(onScreen);
  }
  auto hide = [&](const QRect& global) {
    visible -= QRegion(QRect(control->mapFromGlobal(global.topLeft()), global.size()));
  };
  // Covered by every window the display server stacks above ours, other programs' included.
  QWidget* own = control->window();
  std::vector<QRect> above;
  if (WindowsStackedAbove(own, above)) {
    for (const QRect& r : above) hide(r);
    return ClassifyObscured(control->rect(), visible, hiddenPercent);
  }
  // Where it cannot tell: the program's own windows that stand above it (dialogs, stay-on-top
  // windows and the active window when the control's own window is not active).
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == own || !w->isVisible() || w->isMinimized()) continue;
    const bool isAbove = w->isModal() || (w->windowFlags() & Qt::WindowStaysOnTopHint) ||
                       (w->isActiveWindow() && !own->isActiveWindow());
    if (!isAbove) continue;
    hide(w->frameGeometry());
  }
  return ClassifyObscured(control->rect(), visible, hiddenPercent);
}

bool AdBlockedBy(char code, double hiddenPercent, const AdSettingsRec& s) {
  if (!s.BlockObscured && !s.BlockPartObscured) return false;
  if (code == 'C') return s.BlockObscured;
  if (code == 'P') return s.BlockPartObscured && hiddenPercent > s.ObscuredPerc;
  return false;
}

namespace {

// Re-evaluates a location as soon as its window is activated, deactivated or minimised, so a
// banner stops when the user turns to another window, not only at the host's next timer tick.
class AdHostWatcher : public QObject {
 public:
  static constexpr const char* Name = "AdHostWatcher";
  AdHostWatcher(int location, QWidget* host) : QObject(host), location_(location), host_(host) {
    setObjectName(Name);
    host->window()->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::ActivationChange && e->type() != QEvent::WindowStateChange) return false;
    {
      // A host on its way out has given its location back already.
      std::lock_guard lock(AdLock);
      if (!host_ || !AdLocUsed[location_]) return false;
    }
    UpdateAdLocationFlags(location_, host_);
    return false;
  }

 private:
  int location_;
  QPointer<QWidget> host_;
};

}  // namespace

void UpdateAdLocationFlags(int location, QWidget* host) {
  if (!ValidLocation(location)) return;
  if (host && !host->findChild<QObject*>(AdHostWatcher::Name, Qt::FindDirectChildrenOnly))
    new AdHostWatcher(location, host);
  const bool offScreen = !host || !host->isVisible() || host->window()->isMinimized();
  // A window that is not the active one counts as minimised: the user is busy elsewhere.
  const bool minimized = offScreen || !host->window()->isActiveWindow();
  bool blocked = false;
  if (!offScreen) {
    AdSettingsRec settings;
    {
      std::lock_guard lock(AdLock);
      settings = AdSettings;
    }
    double pct = 0;
    const char code = MeasureObscured(host, pct);
    blocked = AdBlockedBy(code, pct, settings);
  }
  std::lock_guard lock(AdLock);
  if (!AdLocUsed[location]) return;
  AdLocMinimized[location] = minimized;
  AdLocBlocked[location] = blocked;
}
