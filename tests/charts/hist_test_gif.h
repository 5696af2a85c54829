#pragma once
// Small GIF files for the historical chart tests, written with the program's own GIF class.
#include <QImage>
#include <QPainter>

#include <string>

#include "ads/gif/anim_gif.h"

namespace histtest {

inline std::string SmallGif(int width, int height, QColor colour = QColor(30, 60, 120)) {
  QImage img(width, height, QImage::Format_RGB32);
  img.fill(colour);
  QPainter p(&img);
  p.setPen(Qt::white);
  p.drawLine(0, height - 1, width - 1, 0);
  p.end();
  TAnimGif gif;
  gif.Add(img);
  const std::vector<uint8_t> bytes = gif.SaveToMemory();
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace histtest
