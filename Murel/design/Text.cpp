#include "design/Text.h"

#include "design/Appearance.h"
#include "design/InputComponents.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>

namespace murel {
namespace {

// Lays out every paragraph; calls `line` with each line's text layout and
// the line's top. Returns the total size.
template <typename LineFn>
QSizeF layoutText(const QString& text, const QFont& font, qreal lineSpacing, qreal width, LineFn&& onLine) {
  qreal y = 0;
  qreal widest = 0;
  bool first = true;
  const QStringList paragraphs = text.split(QLatin1Char('\n'));
  for (const QString& paragraph : paragraphs) {
    QTextLayout layout(paragraph, font);
    QTextOption option;
    option.setWrapMode(width >= 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      if (width >= 0)
        line.setLineWidth(width);
      else
        line.setNumColumns(paragraph.size() + 1);
      if (!first) y += lineSpacing;
      first = false;
      line.setPosition(QPointF(0, y));
      y += line.height();
      widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    onLine(layout);
  }
  return QSizeF(std::ceil(widest), std::ceil(y));
}

}  // namespace

namespace TextMetrics {

QSizeF size(const QString& text, const QFont& font, qreal lineSpacing, qreal width) {
  return layoutText(text, font, lineSpacing, width, [](QTextLayout&) {});
}

void draw(QPainter& painter, const QRectF& rect, const QString& text, const QFont& font, qreal lineSpacing,
          const QColor& color, Qt::Alignment horizontal, bool wrap) {
  painter.save();
  painter.setPen(color);
  const qreal width = wrap ? rect.width() : -1;
  layoutText(text, font, lineSpacing, width, [&](QTextLayout& layout) {
    for (int i = 0; i < layout.lineCount(); ++i) {
      const QTextLine line = layout.lineAt(i);
      qreal x = rect.left();
      if (horizontal & Qt::AlignRight)
        x = rect.right() - line.naturalTextWidth();
      else if (horizontal & Qt::AlignHCenter)
        x = rect.left() + (rect.width() - line.naturalTextWidth()) / 2;
      line.draw(&painter, QPointF(x, rect.top()));
    }
  });
  painter.restore();
}

}  // namespace TextMetrics

TextLabel::TextLabel(const QString& text, const TextStyle& style, QWidget* parent)
    : QWidget(parent), text_(text), style_(style) {
  // Painted text is invisible to assistive technologies unless named.
  setAccessibleName(text);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void TextLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  setAccessibleName(text);
  changed();
}

void TextLabel::setStyle(const TextStyle& style) {
  style_ = style;
  changed();
}

void TextLabel::setColor(DSColor color) {
  if (style_.color == color) return;
  style_.color = color;
  update();
}

void TextLabel::setWrapping(bool wrap) {
  wrap_ = wrap;
  QSizePolicy policy = sizePolicy();
  policy.setHeightForWidth(wrap);
  if (!wrap) policy.setHorizontalPolicy(QSizePolicy::Fixed);
  setSizePolicy(policy);
  changed();
}

void TextLabel::setElided(Qt::TextElideMode mode) {
  elide_ = mode;
  wrap_ = false;
  QSizePolicy policy = sizePolicy();
  policy.setHeightForWidth(false);
  policy.setHorizontalPolicy(QSizePolicy::Preferred);
  setSizePolicy(policy);
  changed();
}

void TextLabel::setAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  update();
}

void TextLabel::changed() {
  updateGeometry();
  update();
}

QSize TextLabel::sizeHint() const {
  const QMargins m = contentsMargins();
  const QSizeF natural = TextMetrics::size(text_, style_.font, style_.lineSpacing);
  return QSize(int(std::ceil(natural.width())) + m.left() + m.right(),
               int(std::ceil(natural.height())) + m.top() + m.bottom());
}

QSize TextLabel::minimumSizeHint() const {
  if (elide_ != Qt::ElideNone) {
    const QMargins m = contentsMargins();
    const int ellipsis = int(std::ceil(QFontMetricsF(style_.font).horizontalAdvance(QStringLiteral("\u2026"))));
    return QSize(ellipsis + m.left() + m.right(), sizeHint().height());
  }
  if (!wrap_) return sizeHint();
  const QMargins m = contentsMargins();
  return QSize(m.left() + m.right(), heightForWidth(sizeHint().width()));
}

int TextLabel::heightForWidth(int width) const {
  const QMargins m = contentsMargins();
  const qreal inner = std::max(1, width - m.left() - m.right());
  return int(std::ceil(TextMetrics::size(text_, style_.font, style_.lineSpacing, inner).height())) + m.top() +
         m.bottom();
}

void TextLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QString shown =
      elide_ == Qt::ElideNone ? text_ : QFontMetricsF(style_.font).elidedText(text_, elide_, contentsRect().width());
  TextMetrics::draw(painter, contentsRect(), shown, style_.font, style_.lineSpacing,
                    dsColor(style_.color, this, style_.opacity), alignment_, wrap_);
}

SelectableText::SelectableText(const QString& text, const QFont& font, DSColor color, QWidget* parent)
    : QLabel(text, parent), color_(color) {
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setTextFormat(Qt::PlainText);
  // Plain text: an address is shown, never followed.
  setOpenExternalLinks(false);
  setFont(font);
  setCursor(Qt::IBeamCursor);
  applyPalette();
}

bool SelectableText::event(QEvent* event) {
  if (event->type() == Appearance::changeEventType() || event->type() == QEvent::ParentChange ||
      event->type() == QEvent::Show)
    applyPalette();
  return QLabel::event(event);
}

void SelectableText::applyPalette() {
  applyEditorPalette(this, this, color_, color_, 1);
  QPalette palette = this->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, QPalette::WindowText, dsColor(color_, this));
  setPalette(palette);
}

SelectableParagraph::SelectableParagraph(const QFont& font, qreal lineSpacing, DSColor color, QWidget* parent)
    : QTextEdit(parent), lineSpacing_(lineSpacing), color_(color), measure_(new QTextDocument(this)) {
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setLineWrapMode(QTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setAcceptRichText(false);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setFont(font);
  document()->setDocumentMargin(0);
  viewport()->setAutoFillBackground(false);
  viewport()->setCursor(Qt::IBeamCursor);
  measure_->setDefaultFont(font);
  measure_->setDocumentMargin(0);
  QTextOption option = measure_->defaultTextOption();
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  measure_->setDefaultTextOption(option);
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  applyPalette();
}

void SelectableParagraph::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  setAccessibleName(text);
  setPlainText(text);
  formatLines(*document());
  measure_->setPlainText(text);
  formatLines(*measure_);
  cachedHeights_.fill(CachedHeight{});
  updateGeometry();
}

void SelectableParagraph::formatLines(QTextDocument& document) const {
  // The extra space between lines, as the design's text styles set it.
  QTextCursor cursor(&document);
  cursor.select(QTextCursor::Document);
  QTextBlockFormat format;
  format.setLineHeight(lineSpacing_, QTextBlockFormat::LineDistanceHeight);
  cursor.mergeBlockFormat(format);
}

int SelectableParagraph::heightForWidth(int width) const {
  for (const CachedHeight& cached : cachedHeights_)
    if (cached.width == width) return cached.height;
  const QMargins m = contentsMargins();
  measure_->setTextWidth(std::max(1, width - m.left() - m.right()));
  CachedHeight& slot = cachedHeights_[nextCachedHeight_];
  nextCachedHeight_ = (nextCachedHeight_ + 1) % cachedHeights_.size();
  slot = {width, int(std::ceil(measure_->size().height())) + m.top() + m.bottom()};
  return slot.height;
}

QSize SelectableParagraph::sizeHint() const {
  // It takes its column's width; this is only where layout starts.
  constexpr int kPreferredWidth = 400;
  return QSize(kPreferredWidth, heightForWidth(kPreferredWidth));
}

QSize SelectableParagraph::minimumSizeHint() const {
  // One line: its real height comes from its width.
  const QMargins m = contentsMargins();
  return QSize(0, int(std::ceil(QFontMetricsF(font()).height())) + m.top() + m.bottom());
}

bool SelectableParagraph::event(QEvent* event) {
  if (event->type() == Appearance::changeEventType() || event->type() == QEvent::ParentChange ||
      event->type() == QEvent::Show)
    applyPalette();
  return QTextEdit::event(event);
}

void SelectableParagraph::applyPalette() { applyEditorPalette(this, this, color_, color_, 1); }

}  // namespace murel
