#include "ui/qt/controls.h"

#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace pellamar::ui {

PictureButton::PictureButton(const QPixmap& picture, const QString& caption, QWidget* parent)
    : QPushButton(caption, parent), picture_(picture) {}

int PictureButton::BlockTop() const {
  const int block_height = picture_.height() + fontMetrics().height();
  return (height() - block_height) / 2;
}

QRect PictureButton::PictureRect() const {
  const int left = (width() - picture_.width()) / 2;
  return QRect(QPoint(left, BlockTop()), picture_.size());
}

QRect PictureButton::CaptionRect() const {
  const int caption_width = fontMetrics().horizontalAdvance(text());
  const int left = (width() - caption_width) / 2;
  return QRect(left, PictureRect().bottom() + 1, caption_width, fontMetrics().height());
}

void PictureButton::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text.clear();  // the frame, the face and the focus mark only
  painter.drawControl(QStyle::CE_PushButton, option);
  painter.drawItemPixmap(PictureRect(), Qt::AlignCenter, picture_);
  painter.drawItemText(CaptionRect(), Qt::AlignCenter, palette(), isEnabled(), text(),
                       QPalette::ButtonText);
}

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit clicked();
}

}  // namespace pellamar::ui
