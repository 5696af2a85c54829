// The gifframes tool as a user runs it: --info and the frames written as PNG files.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <string>

#include "gif_test_util.h"

namespace {

namespace fs = std::filesystem;

std::string SuiteFile(const char* name) { return std::string(VN_SHARED_DIR) + "/gif-suite/" + name; }

}  // namespace

TEST(GifFrames, InfoAndFramesOfAnAnimation) {
  const std::string gif = SuiteFile("animation-multi-image.gif");
  if (!fs::exists(gif)) GTEST_SKIP() << "GIF test suite not present";
  std::string out;
  ASSERT_EQ(RunGifFrames("--info '" + gif + "'", out), 0) << out;
  EXPECT_NE(out.find("size: 2 x 2"), std::string::npos) << out;
  EXPECT_NE(out.find("loop count: forever"), std::string::npos) << out;
  // Every image is a frame of its own; the ones without a delay play with the default one.
  EXPECT_NE(out.find("frames: 7"), std::string::npos) << out;

  const fs::path dir = fs::temp_directory_path() / ("vn_gifframes_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  ASSERT_EQ(RunGifFrames("'" + gif + "' '" + dir.string() + "'", out), 0) << out;
  int frames = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    QImage frame(QString::fromStdString(entry.path().string()));
    EXPECT_EQ(frame.size(), QSize(2, 2)) << entry.path();
    ++frames;
  }
  EXPECT_EQ(frames, 7);
  fs::remove_all(dir);
}

// A 1x1 frame on a logical screen of the given size (two colours, one pixel).
std::string TinyFrameOnScreen(int width, int height) {
  std::string g = "GIF89a";
  g += char(width & 0xFF);
  g += char(width >> 8);
  g += char(height & 0xFF);
  g += char(height >> 8);
  g += std::string("\x80\x00\x00" "\x00\x00\x00\xFF\xFF\xFF", 9);
  g += std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
  g += std::string("\x02\x02\x44\x01\x00\x3B", 6);  // clear, pixel 0, end
  return g;
}

TEST(GifFrames, ADamagedOrHugeFileIsAnErrorNotACrash) {
  const fs::path bad = fs::temp_directory_path() / ("vn_bad_" + std::to_string(::getpid()) + ".gif");
  std::ofstream(bad, std::ios::binary) << "GIF89a\x10\x00";
  std::string out;
  EXPECT_NE(RunGifFrames("--info '" + bad.string() + "'", out), 0);
  EXPECT_FALSE(out.empty());
  EXPECT_NE(RunGifFrames("--info '/nonexistent/x.gif'", out), 0);

  // Screens too large to compose load fine but end with exit 1 and the reason, not a signal.
  const fs::path dir = fs::temp_directory_path() / ("vn_huge_" + std::to_string(::getpid()));
  for (int side : {16384, 65535}) {
    std::ofstream(bad, std::ios::binary | std::ios::trunc) << TinyFrameOnScreen(side, side);
    EXPECT_EQ(RunGifFrames("'" + bad.string() + "' '" + dir.string() + "'", out), 1) << side << ": " << out;
    EXPECT_NE(out.find("error: Image too large"), std::string::npos) << out;
  }
  fs::remove_all(dir);
  fs::remove(bad);
}
