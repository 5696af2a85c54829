#pragma once
// The banner locations and the ad table that every banner-hosting window reads. The ad feature
// fills the table from reklama.par and serves the locations; a window takes a location only
// when HasAdsForLocation is true for its kind, so with no ad parameters no banner is built.
// Every array and the settings below are guarded by AdLock; widgets are touched on the main
// thread only (the QPointer entries turn null when their widget goes).
#include <QPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/datetime.h"

class QLabel;
class TAnimGif;

constexpr int AdLocationCount = 30;  // locations 1..30
constexpr int AdRowCount = 200;      // ad table rows 1..200

// Guards the location table, the ad table and AdSettings.
extern std::recursive_mutex AdLock;

template <typename T>
using AdLocArray = std::array<T, AdLocationCount + 1>;  // index 0 unused

extern AdLocArray<bool> AdLocUsed;
extern AdLocArray<int> AdLocKind;
extern AdLocArray<QPointer<QWidget>> AdLocImage;  // the banner's image control
extern AdLocArray<TAnimGif*> AdLocGif;            // owned by the hosting window
extern AdLocArray<QPointer<QLabel>> AdLocBlurb1, AdLocBlurb2;
extern AdLocArray<QPointer<QWidget>> AdLocHost;   // decides whether the location is served
extern AdLocArray<bool> AdLocMinimized, AdLocBlocked;
extern AdLocArray<std::string> AdLocData;         // GIF bytes not yet shown, or "SERVERAD"
extern AdLocArray<std::string> AdLocNextLink;
extern AdLocArray<bool> AdLocNextRedirect;
extern AdLocArray<std::string> AdLocLink;         // click address of the ad now shown
extern AdLocArray<bool> AdLocRedirect;
extern AdLocArray<int> AdLocRow;
extern AdLocArray<TDateTime> AdLocShowTime;       // when the ad now shown is replaced (0: at once)
extern AdLocArray<int> AdLocPeriod;               // seconds

struct GIFAdRec {
  std::string Source;  // host and path without a scheme, or "SERVERAD"
  std::string Link;
  bool Redirect = false;
  bool Cache = false;
  std::string CacheFile;
  int32_t Period = 0, WeekendPeriod = 0, Weight = 0, Location = 0;
  bool Failed = false;
};
extern std::array<GIFAdRec, AdRowCount + 1> AdTable;  // row 0 unused

// The reklama.par settings that banner hosts and the click launcher read.
struct AdSettingsRec {
  int InactiveTime = 60;         // "INACTIVETIME", minutes
  bool BlockObscured = false;    // "BLOCKOBSCURED"
  bool BlockPartObscured = false;  // "BLOCKPARTOBSCURED"
  double ObscuredPerc = 50.0;    // "OBSCUREDPERC"
  int DelayAfterClick = 10;      // "DELAYAFTERCLICK", seconds
  bool ServerCanProxy = false;   // "SERVERCANPROXY"
  int ClearErrorsInterval = 180;  // "CLEARERRORSINTERVAL", seconds
  int FetchErrorDelay = 10;      // "FETCHERRORDELAY", seconds
};
extern AdSettingsRec AdSettings;

// Set by the self-update when a new reklama.par arrived; the ad thread reads it again.
extern std::atomic<bool> AdParamsChanged;

// Takes a free location for a kind: first one chosen at random, then 1, 2, ... 30.
// Returns 0 when all are taken.
int RegisterAdLocation(int kind);
// Gives a location back and forgets its controls.
void UnregisterAdLocation(int location);
// True when any ad row serves the kind.
bool HasAdsForLocation(int kind);
// Every location free, minimised and blocked, due at once.
void ClearAdLocations();
// Every location due for a new ad.
void ResetAdTimers();
// Told by the main window after it loads or re-applies its proxy settings. The banners keep
// nothing that depends on them (each fetch reads them anew), so it does nothing.
void AdSettingsChanged();

// How much of a control other windows hide: 'C' covered, 'V' visible, 'P' partly (with
// hiddenPercent). The control's own window must be on screen. Where the display server tells
// the stacking order (X11) every window above counts, other programs' too; elsewhere only the
// program's own windows do.
char MeasureObscured(QWidget* control, double& hiddenPercent);
// The rule behind it, on the control's client rectangle and the part of it left visible.
char ClassifyObscured(const QRect& client, const QRegion& visible, double& hiddenPercent);
// The blocking rule for a measurement, with the given settings.
bool AdBlockedBy(char code, double hiddenPercent, const AdSettingsRec& settings);
// Keeps a location's minimised and blocked flags from its host widget; call on the hosting
// window's timer (main thread).
void UpdateAdLocationFlags(int location, QWidget* host);

// The main window's own banner-click steps (focus the quote grid, redraw the index strip); the
// news window's banner click takes them too. Filled by the main window.
extern std::function<void()> MainBannerClickSteps;
