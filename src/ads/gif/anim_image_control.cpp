#include "anim_image_control.h"

#include <QPainter>

#include <utility>

#include "anim_gif.h"

TGifImageControl::TGifImageControl(QWidget* parent) : QWidget(parent) {}

TGifImageControl::~TGifImageControl() { Detach(); }

void TGifImageControl::Detach()
{
    if (!picture_)
        return;
    // A painter drawing onto our surface must not outlive it.
    if (picture_->IsDrawingOn(&surface_))
        picture_->StopDraw();
    picture_->OnChange = nullptr;
    picture_ = nullptr;
}

void TGifImageControl::SetPicture(TAnimGif* picture)
{
    if (picture == picture_)
        return;
    Detach();
    picture_ = picture;
    reported_ = false;
    if (picture_)
        picture_->OnChange = [this](TAnimGif*) { update(); };
    update();
}

void TGifImageControl::paintEvent(QPaintEvent*)
{
    QPainter out(this);
    if (!picture_)
        return;
    // A picture that cannot be drawn (too large, no memory) leaves the control blank and says
    // why; an exception must not leave a paint event.
    try {
        Paint(out);
    } catch (const GIFException& e) {
        if (!std::exchange(reported_, true))
            picture_->DoNotify(nullptr, 1, e.what());
    }
}

void TGifImageControl::Paint(QPainter& out)
{
    if (!(picture_->DrawOptions() & doDirectDraw)) {
        picture_->Draw(out, rect());
        return;
    }
    if (surface_.size() != size()) {
        if (picture_->IsDrawingOn(&surface_))
            picture_->StopDraw();
        surface_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        surface_.fill(palette().color(backgroundRole()));
    }
    {
        QPainter painter(&surface_);
        picture_->Draw(painter, surface_.rect());
    }
    out.drawImage(0, 0, surface_);
}
