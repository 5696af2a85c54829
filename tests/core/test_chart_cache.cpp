#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/chart_cache.h"
#include "core/gif_hooks.h"
#include "core/program_state.h"

namespace fs = std::filesystem;

namespace {

void WriteBytes(const fs::path& p, size_t n) {
  std::ofstream(p, std::ios::binary) << std::string(n, 'g');
}

}  // namespace

TEST(ChartCache, GifSizeCountsGifFilesOfAnyCase) {
  std::error_code ec;
  fs::remove_all(ChartCacheDir(), ec);
  EXPECT_EQ(ChartCacheDir(), ProgDir + "Cache/");
  EXPECT_EQ(GetGifCacheSize(), 0);
  EXPECT_TRUE(fs::is_directory(ChartCacheDir()));

  const fs::path dir = ChartCacheDir();
  WriteBytes(dir / "IBM_1_D_x.gif", 10);
  WriteBytes(dir / "GIF3.GIF", 20);
  WriteBytes(dir / "mixed.Gif", 5);
  WriteBytes(dir / "notes.txt", 100);
  WriteBytes(dir / "gif", 100);
  fs::create_directory(dir / "folder.gif");
  WriteBytes(dir / "folder.gif" / "inner.gif", 100);
  EXPECT_EQ(GetGifCacheSize(), 35);
  fs::remove_all(dir, ec);
}
