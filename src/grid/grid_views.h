#pragma once
// Views: named column sets kept in section "Views" of the settings file, one key per view
// whose value lists the view's columns in display order ("SymCol,LastCol,ChangeCol:1,...";
// ":n" gives the column's style bits). "Default" is always present and first.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/settings.h"
#include "platform/string_list.h"

struct ViewColumn {
  int Kind = 0;
  int Style = 0;
  bool operator==(const ViewColumn&) const = default;
};
using ViewColumns = std::vector<ViewColumn>;

// The columns of the built-in "Default" view, used when the settings file has none.
extern const char* const DefaultViewText;

// Main thread only. ViewNames and ViewColumnSets are parallel; "Default" is first.
extern StringList ViewNames;
extern std::vector<ViewColumns> ViewColumnSets;

// Columns named by a view text: unknown keys and repeated kinds are skipped.
ViewColumns ParseViewColumns(std::string_view text);
std::string FormatViewColumns(const ViewColumns& cols);

// Reloads ViewNames and ViewColumnSets from section "Views".
void LoadViews();
// Writes ViewNames and ViewColumnSets back to section "Views" (the section is rewritten).
void SaveViews();
// A name a view may take: not empty, at most 255 characters, none of "=[];,|" or a line break,
// and not already used in names by another view (other than the one at index self).
bool IsUsableViewName(std::string_view name, const StringList& names, int self = -1);

// Why a view's columns cannot be kept (a message for the user), empty when they can: a view
// shows at least one column.
std::string ViewColumnsProblem(const ViewColumns& cols);
// Looks the view up by name (any case; a name not found gives the first view), stores its
// name in the layout record and sets the position and style of each column it names; every
// other column is hidden. A view stored without columns shows the Default view's, so the grid
// never goes blank. Returns the number of columns shown.
int ApplyView(std::string_view name, GlobVars& layout);

// Moves column kind `kind` to where kind `before` stands in the layout (a dragged column), and
// the current view's column list with it; the other shown columns keep their order. False when
// either kind is not shown.
bool MoveLayoutColumn(GlobVars& layout, int kind, int before);
