#pragma once

#include "support/TestEnv.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace murel::test {

// Runs a media tool (sox, ffmpeg, ffprobe, espeak-ng) and returns its standard
// output; a failure fails the test.
inline QString runTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  const bool finished = process.waitForFinished(120000);
  EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
      << program.toStdString() << " " << arguments.join(QLatin1Char(' ')).toStdString() << "\n"
      << process.readAllStandardError().toStdString();
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// ffmpeg with its chatter off.
inline void ffmpeg(QStringList arguments) {
  arguments.prepend(QStringLiteral("-nostdin"));
  arguments.prepend(QStringLiteral("error"));
  arguments.prepend(QStringLiteral("-loglevel"));
  arguments.prepend(QStringLiteral("-y"));
  runTool(QStringLiteral("ffmpeg"), arguments);
}

// The duration in seconds of the first audio stream, as ffprobe reports it.
inline double audioDuration(const QString& path) {
  return runTool(QStringLiteral("ffprobe"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                  QStringLiteral("a:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=duration"),
                  QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), path})
      .toDouble();
}

// An MP4 with a small test picture and, when `withAudio`, a 440 Hz tone.
inline void makeVideo(const QString& path, double seconds, bool withAudio) {
  const QString d = QString::number(seconds);
  QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("testsrc=size=64x48:rate=10:duration=") + d};
  if (withAudio) {
    args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
         << QStringLiteral("sine=frequency=440:sample_rate=44100:duration=") + d << QStringLiteral("-c:a")
         << QStringLiteral("aac");
  }
  args << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p")
       << path;
  ffmpeg(args);
}

inline QString jfkSample() {
  return sourceDir() + QStringLiteral("/third_party/node_modules/nodejs-whisper/cpp/whisper.cpp/samples/jfk.mp3");
}

}  // namespace murel::test
