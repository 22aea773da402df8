#pragma once

#include "app/HudPresentation.h"
#include "runtime/Cancellation.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace murel {

// What the dictation session and the application state use of the speech
// engine host: the selected model's residency, transcription of a file and the
// language model that the host keeps beside it.
class SpeechEngineHosting {
 public:
  virtual ~SpeechEngineHosting() = default;
  // Makes sure the selected model is loaded; throws its load error.
  virtual QCoro::Task<void> ensureLoaded() = 0;
  // The raw transcript of an audio file, with vocabulary hints.
  virtual QCoro::Task<QString> transcribe(QString audioFile, QStringList vocabulary,
                                          CancellationToken token = CancellationToken()) = 0;
  // Starts loading the language model when it is installed and not loaded. Reports nothing.
  virtual void prewarmTextEnhancer() = 0;
  // The language model's rewrite of `text` by `instructions`.
  virtual QCoro::Task<QString> enhance(QString text, QString instructions,
                                       CancellationToken token = CancellationToken()) = 0;
  // A current engine exists and reports itself loaded.
  virtual bool isEngineLoaded() const = 0;
  // Restarts the idle unload of the speech engine, then of the language model,
  // each for the full stored model-memory delay from now ("never" cancels it).
  // A host that never unloads has nothing to do.
  virtual void scheduleIdleUnloads() {}
};

// Pausing the user's media while a dictation records. Both calls return at once.
class MediaPlaybackControlling {
 public:
  virtual ~MediaPlaybackControlling() = default;
  // Starts the pause (asks whether media plays, pauses it if so) and keeps it pending.
  virtual void beginPauseForRecording() = 0;
  // Takes the pending pause, if any, and plays again what it paused.
  virtual void resumeAfterRecording() = 0;
};

// The floating heads-up display: built on first showing, then reused.
class HudDisplaying {
 public:
  virtual ~HudDisplaying() = default;
  virtual void show(HudPresentation& presentation, ReadLevel level) = 0;
  // Orders the panel out when one exists.
  virtual void hide() = 0;
};

}  // namespace murel
