#include "retrieval/param_files.h"

#include <filesystem>

#include "core/branding.h"
#include "core/program_state.h"

namespace fs = std::filesystem;

std::string ProgFilePath(const std::string& fileName) {
  if (!fileName.empty() && fileName[0] == '/') return fileName;
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
