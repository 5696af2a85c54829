#pragma once
// The preferences' working copy of the views: edited freely, written back on OK.
#include <string>

#include "core/settings.h"
#include "grid/grid_views.h"

class ViewEditor {
public:
  // Copies ViewNames and ViewColumnSets.
  void Load();
  int Count() const { return names_.Count(); }
  const std::string& Name(int i) const { return names_[i]; }
  const ViewColumns& Columns(int i) const { return columnSets_[static_cast<size_t>(i)]; }
  int IndexOf(const std::string& name) const { return names_.IndexOf(name); }

  // Adds a view with the columns of the view at index from (the first when out of range);
  // its index, -1 when the name cannot be used.
  int Add(const std::string& name, int from = 0);
  // "Default" (index 0) cannot be deleted.
  bool Delete(int index);
  bool SetColumns(int index, ViewColumns cols);

  // Writes the views to ViewNames, ViewColumnSets and the settings file; a current view that no
  // longer exists becomes "Default".
  void Commit(GlobVars& live);

private:
  StringList names_;
  std::vector<ViewColumns> columnSets_;
};
