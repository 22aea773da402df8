#pragma once

#include "runtime/Clock.h"
#include "text/ModelInactivityDelay.h"

#include <QAbstractButton>
#include <QList>
#include <QStringList>
#include <QVariant>

class QMenu;

namespace murel {

class UserDefaults;

// A borderless pull-down: the current choice's name and a chevron in a
// hairline capsule, opening a plain menu of the entries (the current one
// unmarked). Without entries it is the label alone and takes no click.
class CapsuleMenuButton : public QAbstractButton {
  Q_OBJECT

 public:
  struct Entry {
    QVariant value;
    QString label;
  };

  explicit CapsuleMenuButton(QWidget* parent = nullptr);

  void setLabel(const QString& label);
  QString label() const { return text(); }
  void setEntries(const QList<Entry>& entries);
  const QList<Entry>& entries() const { return entries_; }
  bool isInteractive() const { return !entries_.isEmpty(); }
  // The menu the capsule opens (built from the entries).
  QMenu* menu() const { return menu_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 Q_SIGNALS:
  // An entry was chosen (also the one already current).
  void picked(const QVariant& value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  void rebuildMenu();
  void styleMenu();
  void popUp();

  QList<Entry> entries_;
  QMenu* menu_;
};

// The spoken-language drop-down of a model that lets the user choose. Its face
// names the language that will be used for the stored "whisperLanguage"; its
// entries ("auto" first when the model detects, then the model's codes) are
// built 120 ms after it comes on screen, on `clock`, by a timer it owns. A pick
// writes the entry's code and nothing else; it never rewrites the stored value
// by itself, also not when it names none of the codes.
class SpeechLanguagePicker : public CapsuleMenuButton {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kOptionsDelay{120};

  SpeechLanguagePicker(QStringList codes, bool autoDetect, UserDefaults& defaults, Clock& clock,
                       QWidget* parent = nullptr);
  ~SpeechLanguagePicker() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void refreshLabel();
  void cancelOptions();

  QStringList codes_;
  bool autoDetect_;
  UserDefaults& defaults_;
  Clock& clock_;
  Clock::TimerId optionsTimer_ = 0;
};

// The shown name of a model-memory choice ("Never", "15 min", … "2 hr").
QString inactivityDelayLabel(ModelInactivityDelay delay);

// The model-memory menu: Never, 15 min, 30 min, 45 min, 1 hr, 2 hr. It shows
// the stored "modelResidency.inactivityDelayMinutes" (30 min for anything that
// is not one of the six) and writes the minutes of a pick.
class ModelInactivityDelayPicker : public CapsuleMenuButton {
  Q_OBJECT

 public:
  ModelInactivityDelayPicker(UserDefaults& defaults, QWidget* parent = nullptr);

 private:
  void refreshLabel();

  UserDefaults& defaults_;
};

}  // namespace murel
