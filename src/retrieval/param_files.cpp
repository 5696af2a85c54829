#include "retrieval/param_files.h"

#include <algorithm>
#include <filesystem>

#include "core/branding.h"
#include "core/program_state.h"

namespace fs = std::filesystem;

std::string ProgFilePath(const std::string& fileName) {
  if (!IsSafeRelativeName(fileName)) return {};
  std::string exact = ProgDir + fileName;
  std::error_code ec;
  if (fs::exists(exact, ec)) return exact;
  fs::path rel(fileName);
  fs::path dir = fs::path(ProgDir) / rel.parent_path();
  std::string leaf = rel.filename().string();
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (SameText(it->path().filename().string(), leaf)) return it->path().string();
  return exact;
}

std::vector<std::string> ProgFilesWithExtension(std::string_view extension) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(ProgDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string leaf = it->path().filename().string();
    if (leaf.size() > extension.size() &&
        SameText(std::string_view(leaf).substr(leaf.size() - extension.size()), extension))
      files.push_back(leaf);
  }
  std::sort(files.begin(), files.end());
  return files;
}

void ReadParamsFile(const std::string& fileName, StringList& list) {
  list.Clear();
  std::string path = ProgFilePath(fileName);
  if (path.empty()) return;
  LoadParamLines(path, list);
}

void GetSiteParam(const StringList& list, std::string_view key, std::string_view def, std::string& value) {
  value = ParamValue(list, key, def);
}

std::string GetSiteParam(const StringList& list, std::string_view key, std::string_view def) {
  return ParamValue(list, key, def);
}
