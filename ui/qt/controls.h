// Controls that Qt does not offer as they are: a push button with a picture
// above its caption, a label that works as a link, and a picture that is
// only decoration; and how screen readers meet them.
#pragma once

#include <QHash>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QStaticText>

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

// A label that works as a link: it emits clicked() when the left mouse
// button is pressed and released over it. Like every label it takes no
// focus; screen readers meet it as a link whose press action clicks it.
class ClickableLabel : public QLabel {
  Q_OBJECT

 public:
  ClickableLabel(const QString& text, QWidget* parent);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

// A plain-text label for a caption that changes often, such as a running
// count ("1234 Processed."): a caption that fits on one line is drawn from
// pieces shaped once, each digit on its own and every other run of text as
// a whole, so that a new count costs no shaping. A longer caption wraps as
// in any QLabel.
class ProgressLabel : public QLabel {
  Q_OBJECT

 public:
  ProgressLabel(const QString& text, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The shaped piece for `run`, shaped now if it is new.
  const QStaticText& Piece(const QString& run);
  // The caption cut into the runs Piece caches: digits one by one, the
  // text between them whole.
  static QStringList Runs(const QString& caption);

  QHash<QString, QStaticText> pieces_;
};

// A picture that only decorates: screen readers pass over it.
class DecorativePicture : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;
};

// Tells Qt's accessibility how to present the controls above; once is
// enough, more calls do nothing.
void InstallAccessibleControls();

}  // namespace pellamar::ui
