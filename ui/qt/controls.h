// Two controls that Qt does not offer as they are: a push button with a
// picture above its caption, and a label that reports clicks.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRect>

namespace pellamar::ui {

// A push button that draws its picture centred above its caption, the two
// together centred in the button. It behaves as any push button: focus,
// Space, default-button frame.
class PictureButton : public QPushButton {
  Q_OBJECT

 public:
  PictureButton(const QPixmap& picture, const QString& caption, QWidget* parent);

  const QPixmap& picture() const { return picture_; }
  // Where the picture and the caption are drawn, in the button's coordinates.
  QRect PictureRect() const;
  QRect CaptionRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The top of the picture-and-caption block.
  int BlockTop() const;

  QPixmap picture_;
};

// A label that emits clicked() when the left mouse button is pressed and
// released over it.
class ClickableLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

}  // namespace pellamar::ui
