#pragma once

#include "design/Tokens.h"

#include <QFont>
#include <QLabel>
#include <QSizeF>
#include <QTextEdit>
#include <QWidget>

#include <array>

class QPainter;

namespace murel {

// How a run of text is set: font (with its tracking), extra space between
// wrapped lines, and the colour token it is drawn in.
struct TextStyle {
  QFont font;
  qreal lineSpacing = 0;
  DSColor color = DSColor::ink;
  qreal opacity = 1.0;
};

namespace TextMetrics {
// Size of `text` laid out in lines no wider than `width` (< 0: one line per
// paragraph, no wrapping).
QSizeF size(const QString& text, const QFont& font, qreal lineSpacing, qreal width = -1);
// Draws `text` from the top-left of `rect`, wrapping at its width.
void draw(QPainter& painter, const QRectF& rect, const QString& text, const QFont& font, qreal lineSpacing,
          const QColor& color, Qt::Alignment horizontal = Qt::AlignLeft, bool wrap = true);
}  // namespace TextMetrics

// A custom-painted text in one of the design's styles; it wraps long text
// (height for width) and resolves its colour token while painting.
class TextLabel : public QWidget {
  Q_OBJECT

 public:
  TextLabel(const QString& text, const TextStyle& style, QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);
  const TextStyle& style() const { return style_; }
  void setStyle(const TextStyle& style);
  void setColor(DSColor color);
  // Off: one line at its ideal width, never wrapped.
  void setWrapping(bool wrap);
  // One line that may be narrower than its text: cut with "…" where `mode` says.
  void setElided(Qt::TextElideMode mode);
  void setAlignment(Qt::Alignment alignment);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return wrap_; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void changed();

  QString text_;
  TextStyle style_;
  bool wrap_ = true;
  Qt::TextElideMode elide_ = Qt::ElideNone;
  Qt::Alignment alignment_ = Qt::AlignLeft;
};

// Text the user can select and copy, in a design font and colour: a stock
// label, so its palette follows the appearance by hand.
class SelectableText : public QLabel {
  Q_OBJECT

 public:
  SelectableText(const QString& text, const QFont& font, DSColor color, QWidget* parent = nullptr);

 protected:
  bool event(QEvent* event) override;

 private:
  void applyPalette();

  DSColor color_;
};

// A paragraph of the user's own text (a transcript) that can be selected and
// copied, wrapped at word boundaries and, inside a word too long for a line,
// anywhere: no text makes its column wider. As tall as its lines at its width.
class SelectableParagraph : public QTextEdit {
  Q_OBJECT

 public:
  SelectableParagraph(const QFont& font, qreal lineSpacing, DSColor color, QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  bool event(QEvent* event) override;

 private:
  void applyPalette();
  void formatLines(QTextDocument& document) const;

  QString text_;
  qreal lineSpacing_;
  DSColor color_;
  // A copy of the text laid out at the widths layout asks about, so that
  // measuring never disturbs the lines on screen; the last answers are kept.
  QTextDocument* measure_;
  struct CachedHeight {
    int width = -1;
    int height = 0;
  };
  mutable std::array<CachedHeight, 4> cachedHeights_;
  mutable std::size_t nextCachedHeight_ = 0;
};

}  // namespace murel
