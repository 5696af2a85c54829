#pragma once
// An image control: shows a TAnimGif stretched over the widget and repaints whenever the
// image reports a change. With doDirectDraw the painter draws onto the control's own surface,
// which the control copies to the screen; otherwise the image's paint buffer is drawn.

#include <QImage>
#include <QWidget>

class QPainter;
class TAnimGif;

class TGifImageControl : public QWidget {
public:
    explicit TGifImageControl(QWidget* parent = nullptr);
    ~TGifImageControl() override;

    // Not owned. The control takes the image's OnChange; the owner stops the image's painters
    // before freeing it.
    void SetPicture(TAnimGif* picture);
    TAnimGif* Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Detach();
    void Paint(QPainter& out);

    TAnimGif* picture_ = nullptr;
    QImage surface_;
    bool reported_ = false;  // the picture's drawing failure was reported once
};
