#include "onboarding/AccessibilityGuideView.h"

#include "design/Text.h"
#include "runtime/AppPaths.h"
#include "speech/VideoFrameReader.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <cmath>

namespace murel {

// LoopingVideoPlayer

namespace {

constexpr qreal kCornerRadius = 10;
// The clip's frame: 16 wide to 11 high.
constexpr int kAspectWidth = 16;
constexpr int kAspectHeight = 11;

}  // namespace

// The file being read, shared with the job on the thread pool that reads it,
// so a player that goes away never pulls the reader from under a running job.
// One job at a time reads it: the next is asked for when the last has come back.
struct LoopingVideoPlayer::Decoding {
  QString path;
  std::unique_ptr<VideoFrameReader> reader;
};

struct LoopingVideoPlayer::Decoded {
  std::shared_ptr<Decoding> source;
  std::optional<VideoFrameReader::Frame> frame;  // none: the file cannot be played
};

LoopingVideoPlayer::LoopingVideoPlayer(const QString& path, Clock& clock, QWidget* parent)
    : QWidget(parent), path_(path), clock_(clock) {
  watcher_ = new QFutureWatcher<std::shared_ptr<Decoded>>(this);
  connect(watcher_, &QFutureWatcherBase::finished, this, &LoopingVideoPlayer::decoded);
}

LoopingVideoPlayer::~LoopingVideoPlayer() { stop(); }

void LoopingVideoPlayer::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  start();
}

void LoopingVideoPlayer::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  stop();
}

void LoopingVideoPlayer::start() {
  if (playing_) return;
  playing_ = true;
  failed_ = false;
  due_ = true;  // the first picture goes up as soon as it is decoded
  shown_ = 0;
  current_ = QImage();
  currentIndex_ = -1;
  decoding_ = std::make_shared<Decoding>(Decoding{path_, nullptr});
  decodeNext();
}

void LoopingVideoPlayer::stop() {
  playing_ = false;
  if (tick_) clock_.cancel(tick_);
  tick_ = 0;
  // A job under way finishes on its own; its picture is dropped.
  decoding_.reset();
  ready_.reset();
}

void LoopingVideoPlayer::decodeNext() {
  const QSize bounds = size() * devicePixelRatioF();
  auto job = [decoding = decoding_, bounds] {
    auto result = std::make_shared<Decoded>();
    result->source = decoding;
    try {
      if (!decoding->reader) decoding->reader = std::make_unique<VideoFrameReader>(decoding->path);
      result->frame = decoding->reader->next(bounds);
    } catch (const std::exception&) {
      // Left empty: the player shows no picture, as with any unplayable clip.
    }
    return result;
  };
  watcher_->setFuture(QtConcurrent::run(std::move(job)));
}

void LoopingVideoPlayer::decoded() {
  const std::shared_ptr<Decoded> result = watcher_->result();
  if (!playing_ || !result || result->source != decoding_) return;
  if (!result->frame) {
    failed_ = true;
    stop();
    update();
    return;
  }
  ready_ = result;
  if (due_) present();
}

void LoopingVideoPlayer::present() {
  const VideoFrameReader::Frame& frame = *ready_->frame;
  current_ = frame.image;
  currentIndex_ = frame.index;
  ++shown_;
  due_ = false;
  const auto duration = frame.duration;
  ready_.reset();
  update();
  tick_ = clock_.schedule(duration, [this] {
    tick_ = 0;
    due_ = true;
    if (ready_) present();
  });
  decodeNext();
  Q_EMIT frameShown();
}

void LoopingVideoPlayer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath outline;
  outline.addRoundedRect(bounds, kCornerRadius, kCornerRadius);
  if (!current_.isNull()) {
    painter.save();
    painter.setClipPath(outline);
    const QSizeF picture = QSizeF(current_.size()).scaled(size(), Qt::KeepAspectRatio);
    const QRectF target((width() - picture.width()) / 2, (height() - picture.height()) / 2, picture.width(),
                        picture.height());
    painter.drawImage(target, current_);
    painter.restore();
  }
  painter.setPen(QPen(dsColor(DSColor::hairline, this), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(outline);
}

// AccessibilityGuideView

namespace {

// One numbered step: the number in a 14 px column, the text wrapping beside it.
const char* const kStepTextName = "guideStepText";

QWidget* guideStep(int index, const QString& text) {
  auto* step = new QWidget();
  auto* row = new QHBoxLayout(step);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  auto* number = new TextLabel(QString::number(index), TextStyle{tracked(notoSans(10), 1.5), 2, DSColor::accent}, step);
  number->setFixedWidth(14);
  auto* label = new TextLabel(text, TextStyle{notoSans(13), 4, DSColor::inkMuted}, step);
  label->setObjectName(QLatin1String(kStepTextName));
  row->addWidget(number, 0, Qt::AlignTop);
  row->addWidget(label, 1, Qt::AlignTop);
  return step;
}

QWidget* guideBody(Clock& clock, const QString& videoPath) {
  auto* body = new QWidget();
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(20);
  if (QFileInfo(videoPath).isFile()) {
    auto* video = new LoopingVideoPlayer(videoPath, clock, body);
    // As wide as the sheet's padded content, in the clip's 16:11.
    const int width = AboutDetailSheet::kWidth - 2 * 24;
    video->setFixedSize(width, width * kAspectHeight / kAspectWidth);
    column->addWidget(video, 0, Qt::AlignHCenter);
  }
  auto* steps = new QVBoxLayout();
  steps->setSpacing(12);
  //% "Click “CONTINUE” — Murel checks that your X server offers the XTEST and XInput 2.2 extensions."
  //: First step in the how-to popup for enabling Accessibility.
  steps->addWidget(guideStep(1, qtTrId("onboarding.permissions.accessibility.guide.step1")));
  //% "If it isn’t granted, log in to an X11 session (not Wayland) whose server has both; the row then turns to GRANTED."
  //: Second step in the how-to popup for enabling Accessibility.
  steps->addWidget(guideStep(2, qtTrId("onboarding.permissions.accessibility.guide.step2")));
  column->addLayout(steps);
  return body;
}

}  // namespace

QString AccessibilityGuideView::defaultVideoPath() {
  return AppPaths::resource(QStringLiteral("videos/accessibility-permission-guide.mp4"));
}

AccessibilityGuideView::AccessibilityGuideView(Clock& clock, const QString& videoPath, QWidget* parent)
    //% "ENABLE ACCESSIBILITY"
    //: Title of the popup that shows how to enable the Accessibility permission.
    : AboutDetailSheet(qtTrId("onboarding.permissions.accessibility.guide.title"), guideBody(clock, videoPath),
                       parent) {
  video_ = body()->findChild<LoopingVideoPlayer*>();
  steps_ = body()->findChildren<TextLabel*>(QLatin1String(kStepTextName));
}

TextLabel* AccessibilityGuideView::stepText(int index) const { return steps_.value(index - 1); }

}  // namespace murel
