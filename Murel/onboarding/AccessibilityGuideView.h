#pragma once

#include "design/AboutDetailSheet.h"
#include "runtime/Clock.h"

#include <QFutureWatcher>
#include <QImage>

#include <memory>
#include <optional>

namespace murel {

class TextLabel;

// A muted video that plays in a loop from its first picture while it is on
// screen, with no controls, letterboxed into a rounded frame outlined with a
// hairline. Pictures are decoded one ahead on the thread pool and shown in
// turn on the clock; hiding the player stops the decoding, and showing it
// again starts over at the first picture. A file that cannot be played leaves
// the frame empty.
class LoopingVideoPlayer : public QWidget {
  Q_OBJECT

 public:
  LoopingVideoPlayer(const QString& path, Clock& clock, QWidget* parent = nullptr);
  ~LoopingVideoPlayer() override;

  QString path() const { return path_; }
  // The picture on screen (null before the first), and its place in the clip.
  const QImage& currentFrame() const { return current_; }
  int currentFrameIndex() const { return currentIndex_; }
  // How many pictures have been shown since the player last started.
  int framesShown() const { return shown_; }
  bool isPlaying() const { return playing_; }
  bool failed() const { return failed_; }

 Q_SIGNALS:
  void frameShown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct Decoding;
  struct Decoded;

  void start();
  void stop();
  void decodeNext();
  void decoded();
  void present();

  QString path_;
  Clock& clock_;
  bool playing_ = false;
  bool failed_ = false;
  // Ready to show the next picture (its predecessor's time is up).
  bool due_ = false;
  std::shared_ptr<Decoding> decoding_;
  QFutureWatcher<std::shared_ptr<Decoded>>* watcher_ = nullptr;
  std::shared_ptr<Decoded> ready_;
  Clock::TimerId tick_ = 0;
  QImage current_;
  int currentIndex_ = -1;
  int shown_ = 0;
};

// The how-to sheet of the permissions step: "ENABLE ACCESSIBILITY", the
// looping guide clip (left out when the file is missing) and two numbered
// steps. Its CLOSE emits closeRequested once per click; closing is the
// caller's business.
class AccessibilityGuideView : public AboutDetailSheet {
  Q_OBJECT

 public:
  // The clip as installed with the application.
  static QString defaultVideoPath();

  explicit AccessibilityGuideView(Clock& clock, const QString& videoPath = defaultVideoPath(),
                                  QWidget* parent = nullptr);

  // Null when the clip was not found.
  LoopingVideoPlayer* videoPlayer() const { return video_; }
  TextLabel* stepText(int index) const;

 private:
  LoopingVideoPlayer* video_ = nullptr;
  QList<TextLabel*> steps_;
};

}  // namespace murel
