#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

namespace murel {

class AppState;
class Clock;
class EditorialPillButton;
class OnboardingButtonStyle;
class Pasteboard;
class TextLabel;

// What the output card shows.
struct TranscribeStatus {
  enum class Case { idle, transcribing, completed, error };
  Case kind = Case::idle;
  QString text;
  bool operator==(const TranscribeStatus&) const = default;
};

struct SelectedFile {
  QString name;
  QString path;
  QString size;
};

// "--" when the size cannot be read, else decimal units in the file style.
QString formattedFileSize(const QString& path);

// The transcribe tab: one chosen audio or video file, transcribed on the
// machine by the application state, its text shown and copied on request.
class TranscribeSettingsView : public QWidget {
  Q_OBJECT

 public:
  TranscribeSettingsView(AppState& appState, Pasteboard& pasteboard, Clock& clock, QWidget* parent = nullptr);

  const std::optional<SelectedFile>& selectedFile() const { return selectedFile_; }
  const TranscribeStatus& status() const { return status_; }
  bool copied() const { return copied_; }

  void chooseSourceFile();
  void selectFile(const QString& path);
  void startFileTranscription();
  void copyTranscription();

  EditorialPillButton* chooseButton() const { return choose_; }
  OnboardingButtonStyle* transcribeButton() const { return transcribe_; }
  EditorialPillButton* copyButton() const { return copy_; }
  TextLabel* outputLabel() const { return output_; }

 Q_SIGNALS:
  void statusChanged();

 private:
  void refresh();
  void finishRun(int run, const QString& path, std::optional<QString> text, const QString& error);

  AppState& appState_;
  Pasteboard& pasteboard_;
  Clock& clock_;
  std::optional<SelectedFile> selectedFile_;
  TranscribeStatus status_;
  bool copied_ = false;
  bool canStart_ = false;
  int runs_ = 0;
  int copies_ = 0;
  TextLabel* numeral_;
  TextLabel* fileName_;
  TextLabel* fileSize_;
  EditorialPillButton* choose_;
  OnboardingButtonStyle* transcribe_;
  QWidget* outputCard_;
  TextLabel* running_;
  TextLabel* output_;
  EditorialPillButton* copy_;
};

}  // namespace murel
