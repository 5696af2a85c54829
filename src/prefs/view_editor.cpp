#include "prefs/view_editor.h"

void ViewEditor::Load() {
  if (ViewNames.Empty()) LoadViews();
  names_ = ViewNames;
  columnSets_ = ViewColumnSets;
}

int ViewEditor::Add(const std::string& name, int from) {
  if (!IsUsableViewName(name, names_)) return -1;
  if (from < 0 || from >= Count()) from = 0;
  ViewColumns copy = Count() ? columnSets_[static_cast<size_t>(from)] : ParseViewColumns(DefaultViewText);
  names_.Add(name);
  columnSets_.push_back(std::move(copy));
  return Count() - 1;
}

bool ViewEditor::Delete(int index) {
  if (index <= 0 || index >= Count()) return false;
  names_.Delete(index);
  columnSets_.erase(columnSets_.begin() + index);
  return true;
}

bool ViewEditor::SetColumns(int index, ViewColumns cols) {
  if (index < 0 || index >= Count()) return false;
  columnSets_[static_cast<size_t>(index)] = std::move(cols);
  return true;
}

void ViewEditor::Commit(GlobVars& live) {
  ViewNames = names_;
  ViewColumnSets = columnSets_;
  SaveViews();
  if (ViewNames.IndexOf(live.CurView) < 0) live.CurView = "Default";
}
