#include "core/chart_cache.h"

#include <filesystem>

#include "core/program_files.h"
#include "core/program_state.h"
#include "platform/string_list.h"

int ChartCacheMB = 1;
int64_t ChartCacheBytes = 0;

std::string ChartCacheDir() { return ProgDir + CacheFolderName + "/"; }

int64_t GetGifCacheSize() {
  namespace fs = std::filesystem;
  const fs::path dir = ChartCacheDir();
  std::error_code ec;
  fs::create_directories(dir, ec);
  int64_t total = 0;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 4 || !SameText(std::string_view(name).substr(name.size() - 4), ".gif")) continue;
    std::error_code fileEc;
    if (!it->is_regular_file(fileEc)) continue;
    const auto size = it->file_size(fileEc);
    if (!fileEc) total += static_cast<int64_t>(size);
  }
  return total;
}
