#include "audio/RecordingCuePlayer.h"

#include "runtime/AppPaths.h"

#include <QFile>

#include <sndfile.h>

#include <vector>

namespace murel {

RecordingCuePlayer& BundledCues::player() {
  std::call_once(loaded_, [this] {
    player_ =
        std::make_unique<RecordingCuePlayer>(AppPaths::resource(QStringLiteral("sounds/ListeningStart.wav")),
                                             AppPaths::resource(QStringLiteral("sounds/ListeningStop.wav")), playback_);
  });
  return *player_;
}

RecordingCuePlayer::RecordingCuePlayer(const QString& startSoundPath, const QString& stopSoundPath,
                                       platform::CuePlayback& playback)
    : playback_(playback), start_(loadCueSound(startSoundPath)), stop_(loadCueSound(stopSoundPath)) {
  // Connected now, so a cue never waits for the server connection; a cue's
  // stream takes one short round trip when it is first played.
  if (start_ || stop_) playback_.connect();
}

RecordingCuePlayer::~RecordingCuePlayer() { queue_.waitForIdle(); }

std::optional<platform::CuePlayback::SoundId> RecordingCuePlayer::loadCueSound(const QString& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
  if (!file) return std::nullopt;
  std::vector<int16_t> samples;
  if (info.channels > 0 && info.frames > 0) {
    samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_short(file, samples.data(), info.frames);
    samples.resize(static_cast<size_t>(got > 0 ? got : 0) * static_cast<size_t>(info.channels));
  }
  sf_close(file);
  if (samples.empty()) return std::nullopt;
  return playback_.addSound(std::move(samples), static_cast<uint32_t>(info.samplerate),
                            static_cast<uint32_t>(info.channels));
}

bool RecordingCuePlayer::hasSound(RecordingCue cue) const {
  return (cue == RecordingCue::Started ? start_ : stop_).has_value();
}

void RecordingCuePlayer::play(RecordingCue cue) {
  const auto sound = cue == RecordingCue::Started ? start_ : stop_;
  if (!sound) return;
  platform::CuePlayback* playback = &playback_;
  queue_.run([playback, id = *sound] { playback->play(id); });
}

}  // namespace murel
