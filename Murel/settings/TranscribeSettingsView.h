#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

namespace murel {

class AppState;
class Clock;
class DSSpinner;
class EditorialChapterNumeral;
class EditorialPillButton;
class FilePanels;
class OnboardingButtonStyle;
class Pasteboard;
class SelectableParagraph;
class TextLabel;
class Tween;

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
// The symbol of a chosen file: "film" when the MIME database gives its name's
// extension a video type (or one derived from video), else "waveform".
QString fileSymbolFor(const QString& name);
// The MIME types the open panel offers, built once: every audio type, every
// video type, MPEG-4 and QuickTime movies, each followed by the types the
// MIME database derives from it.
const QStringList& transcribableMimeTypes();

// The transcribe tab: one chosen audio or video file, transcribed on the
// machine by the application state, its text shown and copied on request.
class TranscribeSettingsView : public QWidget {
  Q_OBJECT

 public:
  // `panels` asks for the file to transcribe.
  TranscribeSettingsView(AppState& appState, Pasteboard& pasteboard, FilePanels& panels, Clock& clock,
                         QWidget* parent = nullptr);

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
  SelectableParagraph* outputLabel() const { return output_; }
  TextLabel* fileNameLabel() const { return fileName_; }
  EditorialChapterNumeral* numeral() const { return numeral_; }

 Q_SIGNALS:
  void statusChanged();

 private:
  void refresh();
  void finishRun(int run, const QString& path, std::optional<QString> text, const QString& error);
  // Fades the blocks that may just have appeared in from transparent.
  void fadeIn(int durationMs);
  void applyFade(qreal value);

  AppState& appState_;
  Pasteboard& pasteboard_;
  FilePanels& panels_;
  Clock& clock_;
  std::optional<SelectedFile> selectedFile_;
  TranscribeStatus status_;
  bool copied_ = false;
  bool canStart_ = false;
  int runs_ = 0;
  int copies_ = 0;
  QWidget* emptyBlock_;
  EditorialChapterNumeral* numeral_;
  QWidget* chosenBlock_;
  QWidget* icon_;
  TextLabel* fileName_;
  TextLabel* fileSize_;
  EditorialPillButton* choose_;
  QWidget* startBlock_;
  OnboardingButtonStyle* transcribe_;
  QWidget* outputBlock_;
  QWidget* running_;
  DSSpinner* spinner_;
  QWidget* completed_;
  SelectableParagraph* output_;
  EditorialPillButton* copy_;
  QWidget* failed_;
  TextLabel* errorMessage_;
  Tween* fade_;
};

}  // namespace murel
