#pragma once
// The base form of the chart windows with its extra caption buttons, and the window services
// every form shares: the global keys, keeping forms on screen, colour inversion and the
// user-inactivity clock.
#include <QMessageBox>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/color.h"

class QToolButton;

constexpr int MaxButtonForms = 100;

// The option that puts the extra caption buttons on the forms.
extern bool CaptionButtonsOn;

// Opens the symbol look-up dialog modally over parent and returns the chosen symbol (empty
// when cancelled). Installed by the look-up dialog's owner; nothing happens while unset.
extern std::function<std::string(QWidget* parent)> OpenSymbolLookup;

class TButtonForm : public QWidget {
public:
  explicit TButtonForm(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Window);
  ~TButtonForm() override;

  // The four caption-button flags: each extra button shown, and drawn pressed.
  bool ShowLookupButton = false;
  bool LookupButtonDown = false;
  bool ShowHelpButton = false;
  bool HelpButtonDown = false;

  // Brings the extra buttons in line with the flags and repaints them, after a caption or
  // flag change (while CaptionButtonsOn; when it is off the buttons are hidden).
  void RefreshCaptionButtons();
  // Gets a symbol from the look-up dialog and hands it to SymbolLookedUp.
  void LookupButtonClick();
  void HelpButtonClick();
  // Receives the symbol chosen through the look-up button; nothing in the base form.
  virtual void SymbolLookedUp(const std::string& symbol);

  QToolButton* LookupButton() const { return lookupButton_; }
  QToolButton* HelpButton() const { return helpButton_; }

protected:
  void resizeEvent(QResizeEvent* event) override;
  // Keys the form does not handle go to HandleGlobalHotKey.
  void keyPressEvent(QKeyEvent* event) override;

private:
  void PlaceCaptionButtons();
  QToolButton* lookupButton_ = nullptr;
  QToolButton* helpButton_ = nullptr;
};

// The open forms (main thread only); a form beyond MaxButtonForms is not listed.
std::vector<TButtonForm*> OpenButtonForms();

// Moves a form onto the first monitor when none of its four corners lies on any monitor.
void EnsureOnScreen(QWidget* form);

// 255 minus each of the red, green and blue parts.
constexpr TColor InvertColor(TColor c) {
  return RGBColor(255 - GetRValue(c), 255 - GetGValue(c), 255 - GetBValue(c));
}

// What the shared keys do; filled by the subsystems that own each action.
struct GlobalHotKeyTable {
  std::function<void()> PortfolioBox;     // Ctrl/Alt+P
  std::function<void()> SiteBox;          // Ctrl/Alt+S
  std::function<void()> RefreshInterval;  // Ctrl/Alt+E
  std::function<void()> Preferences;      // Ctrl/Alt+M
  std::function<void()> WatchList;        // Ctrl/Alt+L
  std::function<void()> Refresh;          // Ctrl/Alt+R and F5
  std::function<void()> Help;             // F1 where the application's filter is not installed
  std::function<void()> ShowDebugWindow;  // F2: shows the debug window when it exists
  std::function<void()> CreateDebugWindow;  // Shift+Ctrl+F2: creates and shows it
};
extern GlobalHotKeyTable GlobalHotKeys;

// Whether the key is one of the shared Ctrl/Alt letters (P, S, E, M, L, R).
bool IsSharedLetterKey(int key, Qt::KeyboardModifiers shift);
// Handles the keys shared by all windows (key is a Qt::Key). A handled key is set to 0;
// any other key is left for the window. The input filter below also hands it the shared
// letters from every control that does not use them itself.
void HandleGlobalHotKey(int& key, Qt::KeyboardModifiers shift);

// Installs the application-wide filter that time-stamps keyboard and mouse input, answers F1
// in every window with ShowProgramHelp and hands the shared letter keys to HandleGlobalHotKey.
void InstallInputActivityFilter();

// The program's help (F1, a window's help button): opens the help file of the branding record
// from the program folder, or says "No help file is installed." in a box over the window of
// `from` (not modal, so the window and the one under it stay usable).
void ShowProgramHelp(QWidget* from);
// A message box over that window that is not modal (the window stays usable and closes
// normally while it is open) and frees itself when closed.
void ShowBoxOver(QWidget* over, QMessageBox::Icon icon, const std::string& caption, const std::string& text);
// Records input now (the filter calls it).
void NoteUserInput();
// True when no input came for longer than the ad parameter "INACTIVETIME" (minutes, 60 when
// absent or no number). Input to any program of the session counts where the display server
// tells the session's idle time (X11); elsewhere only input to the program's own windows.
bool IsUserInactive();
// Where the session's idle time comes from (milliseconds since its last input; nothing when
// unknown). The display server by default; tests put their own; an empty one restores it.
void SetSessionIdleSource(std::function<std::optional<int64_t>()> source);
