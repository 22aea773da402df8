#pragma once

#include "platform/AudioCapture.h"
#include "platform/AudioDevices.h"
#include "platform/CuePlayback.h"
#include "platform/InputFocus.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/xdg/LoginItem.h"

#include <QList>

#include <atomic>

namespace murel::test {

// Shortcut keys that are only written down.
class FakeKeySynthesizer final : public KeySynthesizer {
 public:
  bool isTrusted() override { return trusted; }
  bool postKeyWithCommand(Key key) override {
    posted.append(key);
    return trusted;
  }
  bool isTerminalFocused() override { return false; }
  bool postShiftInsert() override { return trusted; }

  bool trusted = true;
  QList<Key> posted;
};

// A clipboard in memory, for parts that only need one to exist.
class FakePasteboard final : public Pasteboard {
 public:
  qint64 changeCount() override { return changes_; }
  QList<Item> items() override { return items_; }
  std::optional<QString> text() override {
    for (const Item& item : items_)
      for (const auto& [type, bytes] : item.contents)
        if (type == "text/plain") return QString::fromUtf8(bytes);
    return std::nullopt;
  }
  void writeText(const QString& text) override { writeItems({Item{{{"text/plain", text.toUtf8()}}}}); }
  void writeItems(const QList<Item>& items) override {
    items_ = items;
    ++changes_;
    ownWrite_ = changes_;
  }
  bool holdsOwnWrite() override { return ownWrite_ == changes_; }
  bool ownerIsFocusedProgram() override { return true; }
  QList<Item> primaryItems() override { return primary_; }
  void writePrimaryText(const QString& text) override { writePrimaryItems({Item{{{"text/plain", text.toUtf8()}}}}); }
  void writePrimaryItems(const QList<Item>& items) override { primary_ = items; }
  bool holdsOwnPrimaryWrite() override { return false; }

 private:
  QList<Item> items_;
  QList<Item> primary_;
  qint64 changes_ = 0;
  qint64 ownWrite_ = -1;
};

// Keyboard focus that moves only between the windows the test names.
class FakeInputFocus final : public InputFocus {
 public:
  quint64 focusedWindow() override { return focused; }
  bool setFocusedWindow(quint64 window) override {
    focused = window;
    return true;
  }
  bool exists(quint64) override { return true; }

  quint64 focused = kPointerRoot;
};

// A sound server with no inputs, that plays cues into a list and refuses to record.
class FakeAudioDevices final : public platform::AudioDevices {
 public:
  std::optional<std::vector<platform::AudioSource>> audioSources() override { return sources; }
  std::optional<platform::AudioSource> audioSourceNamed(const QString& name) override {
    for (const platform::AudioSource& source : sources)
      if (source.name == name) return source;
    return std::nullopt;
  }

  std::vector<platform::AudioSource> sources;
};

class FakeAudioCapture final : public platform::AudioCapture {
 public:
  QCoro::Task<std::unique_ptr<platform::CaptureStream>> open(std::optional<uint32_t>) override {
    // Refused like a sound server that does not answer.
    if (++opens > 0) throw platform::CaptureError(platform::CaptureError::Step::Connect, 0);
    co_return std::unique_ptr<platform::CaptureStream>();
  }

  int opens = 0;
};

class FakeCuePlayback final : public platform::CuePlayback {
 public:
  bool connect() override { return true; }
  std::optional<SoundId> addSound(std::vector<int16_t>, uint32_t, uint32_t) override { return sounds++; }
  bool play(SoundId sound) override {
    played.fetch_add(1);
    return sound < sounds;
  }

  SoundId sounds = 0;
  std::atomic<int> played{0};  // played on the cue player's thread
};

class FakeMicrophone final : public platform::MicrophonePermission {
 public:
  platform::MicrophonePermissionStatus status() override {
    ++asks;
    return answer;
  }
  QCoro::Task<bool> request() override { co_return answer == platform::MicrophonePermissionStatus::Authorized; }

  platform::MicrophonePermissionStatus answer = platform::MicrophonePermissionStatus::Authorized;
  int asks = 0;
};

// A login item that only remembers whether it is registered.
class FakeLoginItem final : public platform::LoginItem {
 public:
  Status status() override { return registered ? Status::enabled : Status::notRegistered; }
  bool registerItem(QString* = nullptr) override {
    registered = true;
    return true;
  }
  bool unregisterItem(QString* = nullptr) override {
    registered = false;
    return true;
  }

  bool registered = false;
};

}  // namespace murel::test
