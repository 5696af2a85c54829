#pragma once
// The strip of market indices under the menu: paints what the scroll thread prepared.
#include <QWidget>

#include <functional>

#include "mainwin/main_threads.h"

class QTimer;

class IndexStrip : public QWidget {
public:
  explicit IndexStrip(QWidget* parent = nullptr);
  // Where the text and position come from (the scroll thread); unset: nothing is drawn.
  std::function<ScrollThread::State()> Source;

protected:
  void paintEvent(QPaintEvent* e) override;

private:
  QTimer* timer_;
};
