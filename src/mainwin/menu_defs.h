#pragma once
// The menu files: popmenu.par (the grid's pop-up menu) and menu.par (the main menu bar), and
// the keyword commands their entries run. The formats are described in docs/formats-grid.md.
#include <string>
#include <string_view>
#include <vector>

#include "platform/string_list.h"

// The keyword field at the front of a command text.
constexpr size_t CommandKeyLength = 14;

struct MenuEntry {
  std::string Menu;     // menu.par only: the menu bar item it belongs to
  std::string Caption;  // "-" is a separator
  std::string Command;  // keyword field and argument
};

// One entry per "caption|command" line (menu.par: "menu|caption|command"); blank lines and
// lines starting "//" are skipped, as are lines without the separators.
std::vector<MenuEntry> ParsePopMenu(std::string_view text);
std::vector<MenuEntry> ParseMainMenu(std::string_view text);

// The keyword of a command text (its first 14 characters, dots and blanks dropped, upper
// case) and its argument (the rest).
std::string CommandKeyword(std::string_view command);
std::string CommandArgument(std::string_view command);
// Whether the command acts on a symbol (the grid's or the pop-up symbol): disabled on rows
// that hold none (a separator, "$CASH", "TOTAL", an empty row).
bool CommandNeedsSymbol(std::string_view command);
// A command text from a keyword and an argument.
std::string MakeCommand(std::string_view keyword, std::string_view argument = {});

// The pop-up menu definition: captions and command texts, parallel (main thread).
extern StringList PopCaptions;
extern StringList PopCommands;
