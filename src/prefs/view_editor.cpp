#include "prefs/view_editor.h"

void ViewEditor::Load() {
  if (ViewNames.Empty()) LoadViews();
  names_ = ViewNames;
  specs_ = ViewSpecs;
}

int ViewEditor::Add(const std::string& name, int from) {
  if (!IsUsableViewName(name, names_)) return -1;
  if (from < 0 || from >= Count()) from = 0;
  ViewSpec copy = Count() ? specs_[static_cast<size_t>(from)] : ParseViewSpec(DefaultViewText);
  names_.Add(name);
  specs_.push_back(std::move(copy));
  return Count() - 1;
}

bool ViewEditor::Delete(int index) {
  if (index <= 0 || index >= Count()) return false;
  names_.Delete(index);
  specs_.erase(specs_.begin() + index);
  return true;
}

bool ViewEditor::Rename(int index, const std::string& name) {
  if (index <= 0 || index >= Count() || !IsUsableViewName(name, names_, index)) return false;
  names_.SetString(index, name);
  return true;
}

bool ViewEditor::SetColumns(int index, ViewSpec spec) {
  if (index < 0 || index >= Count()) return false;
  specs_[static_cast<size_t>(index)] = std::move(spec);
  return true;
}

void ViewEditor::Commit(GlobVars& live) {
  ViewNames = names_;
  ViewSpecs = specs_;
  SaveViews();
  if (ViewNames.IndexOf(live.CurView) < 0) live.CurView = "Default";
}
