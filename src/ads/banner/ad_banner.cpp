#include "ads/banner/ad_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>

#include "ads/gif/anim_gif.h"
#include "ads/gif/anim_image_control.h"
#include "core/ad_locations.h"
#include "core/gif_hooks.h"
#include "core/url_launch.h"

AdBanner::AdBanner(int kind, int location, QWidget* parent) : QWidget(parent), location_(location) {
  (void)kind;
  gif_ = std::make_unique<TAnimGif>();
  SetGifDithering(gif_.get());
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  image_ = new TGifImageControl(this);
  // Hidden until the first banner (or for a server's own ad), keeping its place meanwhile.
  QSizePolicy policy = image_->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  image_->setSizePolicy(policy);
  image_->hide();
  lay->addWidget(image_);
  flags_ = new QTimer(this);
  connect(flags_, &QTimer::timeout, this, [this] { UpdateAdLocationFlags(location_, this); });
  flags_->start(500);
  std::lock_guard lock(AdLock);
  AdLocImage[location_] = image_;
  AdLocGif[location_] = gif_.get();
  AdLocHost[location_] = this;
}

AdBanner::~AdBanner() {
  // The location goes first, so the ad thread no longer reaches the image.
  UnregisterAdLocation(location_);
  if (image_) image_->SetPicture(nullptr);
  gif_->StopPainters();
}

void AdBanner::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (BeforeClick) BeforeClick();
  OpenAdLink(location_);
}

AdBanner* CreateAdBanner(int kind, QWidget* parent, int width, int height, bool blurbs) {
  if (!HasAdsForLocation(kind)) return nullptr;
  const int location = RegisterAdLocation(kind);
  if (!location) return nullptr;
  auto* banner = new AdBanner(kind, location, parent);
  banner->Image()->setFixedSize(width, height);
  banner->setFixedHeight(height);
  if (blurbs) {
    auto* b1 = new QLabel(banner);
    auto* b2 = new QLabel(banner);
    for (QLabel* b : {b1, b2}) {
      b->setTextFormat(Qt::PlainText);
      b->setFixedWidth(BlurbColumnWidth);
    }
    auto* texts = new QVBoxLayout;
    texts->addWidget(b1);
    texts->addWidget(b2);
    static_cast<QHBoxLayout*>(banner->layout())->addSpacing(8);
    static_cast<QHBoxLayout*>(banner->layout())->addLayout(texts);
    std::lock_guard lock(AdLock);
    AdLocBlurb1[location] = b1;
    AdLocBlurb2[location] = b2;
  }
  return banner;
}

void SetBannerBlurbLabels(AdBanner* banner, QLabel* first, QLabel* second) {
  if (!banner) return;
  std::lock_guard lock(AdLock);
  AdLocBlurb1[banner->Location()] = first;
  AdLocBlurb2[banner->Location()] = second;
}

void SetBlurbText(QLabel* label, const std::string& text) {
  if (!label) return;
  const QString full = QString::fromStdString(text);
  const int room = label->contentsRect().width() - 2 * std::max(label->indent(), 0);
  const QString shown = label->fontMetrics().elidedText(full, Qt::ElideRight, std::max(room, 0));
  label->setText(shown);
  label->setToolTip(shown == full ? QString() : full);
}
