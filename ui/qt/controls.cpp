#include "ui/qt/controls.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace pellamar::ui {
namespace {

// More shaped pieces than a count and a few captions need: the cache is
// emptied when it grows beyond them.
constexpr qsizetype kMostPieces = 32;

// The credit label as a link: named by its caption, pressed by its action.
class LinkAccessible : public QAccessibleWidget {
 public:
  explicit LinkAccessible(ClickableLabel* label)
      : QAccessibleWidget(label, QAccessible::Link), label_(label) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name) return label_->text();
    return QAccessibleWidget::text(kind);
  }
  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      emit label_->clicked();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  ClickableLabel* label_;
};

// A decoration: no name, and not shown to screen readers.
class DecorationAccessible : public QAccessibleWidget {
 public:
  explicit DecorationAccessible(QWidget* picture)
      : QAccessibleWidget(picture, QAccessible::Graphic) {}

  QString text(QAccessible::Text /*kind*/) const override { return {}; }
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.invisible = true;
    return state;
  }
};

QAccessibleInterface* AccessibleControl(const QString& class_name, QObject* object) {
  if (class_name == ClickableLabel::staticMetaObject.className()) {
    return new LinkAccessible(static_cast<ClickableLabel*>(object));
  }
  if (class_name == DecorativePicture::staticMetaObject.className()) {
    return new DecorationAccessible(static_cast<QWidget*>(object));
  }
  return nullptr;
}

}  // namespace

void InstallAccessibleControls() {
  static const bool installed = [] {
    QAccessible::installFactory(&AccessibleControl);
    return true;
  }();
  (void)installed;
}

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

ClickableLabel::ClickableLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

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

ProgressLabel::ProgressLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QStringList ProgressLabel::Runs(const QString& caption) {
  QStringList runs;
  QString text;
  for (const QChar c : caption) {
    if (!c.isDigit()) {
      text += c;
      continue;
    }
    if (!text.isEmpty()) runs << std::exchange(text, QString());
    runs << QString(c);
  }
  if (!text.isEmpty()) runs << text;
  return runs;
}

const QStaticText& ProgressLabel::Piece(const QString& run) {
  if (const auto found = pieces_.constFind(run); found != pieces_.constEnd()) return *found;
  if (pieces_.size() >= kMostPieces) pieces_.clear();
  QStaticText piece(run);
  piece.setTextFormat(Qt::PlainText);
  piece.setPerformanceHint(QStaticText::AggressiveCaching);
  piece.prepare(QTransform(), font());
  return *pieces_.insert(run, piece);
}

// Opaque: the label fills in the window's background itself, which spares
// a paint of the window under it for every count.
void ProgressLabel::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setBrushOrigin(-mapTo(window(), QPoint()));
  painter.fillRect(event->rect(), palette().brush(QPalette::Window));
  const QRect box = contentsRect();
  const QStringList runs = Runs(text());
  qreal width = 0;
  for (const QString& run : runs) width += Piece(run).size().width();
  if (text().contains('\n') || width > box.width()) {
    painter.end();
    QLabel::paintEvent(event);
    return;
  }
  painter.setFont(font());
  painter.setPen(palette().color(foregroundRole()));
  QPointF at = box.topLeft();
  for (const QString& run : runs) {
    const QStaticText& piece = Piece(run);
    painter.drawStaticText(at, piece);
    at.rx() += piece.size().width();
  }
}

// Pieces shaped in another font are of no more use.
void ProgressLabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) pieces_.clear();
  QLabel::changeEvent(event);
}

}  // namespace pellamar::ui
