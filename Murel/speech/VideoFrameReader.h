#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <chrono>
#include <memory>

namespace murel {

// Reads the pictures of a video file one after the other, scaled for display,
// and starts over at the first when the last has been read: the looping clip
// of a how-to. Sound is ignored.
//
// Not thread-safe, and blocking (file reads, decoding): use one reader from
// one thread at a time, off the main thread.
class VideoFrameReader {
 public:
  struct Frame {
    QImage image;                       // RGB32, fitted into the size asked for, aspect kept
    int index = 0;                      // 0 for the first picture of the clip, on every loop
    std::chrono::nanoseconds duration;  // how long the picture stays up
  };

  // Opens the file's first video stream; throws SystemError when there is
  // none or it cannot be decoded.
  explicit VideoFrameReader(const QString& path);
  ~VideoFrameReader();
  VideoFrameReader(const VideoFrameReader&) = delete;
  VideoFrameReader& operator=(const VideoFrameReader&) = delete;

  // The pictures' own size.
  QSize sourceSize() const;
  // The next picture, fitted into `bounds` (its own size when empty); after the
  // last one, the first again. Throws SystemError when the file stops decoding.
  Frame next(QSize bounds = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace murel
