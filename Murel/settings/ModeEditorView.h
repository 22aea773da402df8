#pragma once

#include "keys/KeyCombo.h"
#include "text/ModeStore.h"

#include <QAbstractButton>
#include <QUuid>
#include <QWidget>

#include <optional>

class QTextEdit;

namespace murel {

class Clock;
class DSDropdown;
class DSTextField;
class EditorialPillButton;
class EditorialStatusPill;
class EditorialToggleButton;
class HotKeyService;
class ModeHotkeyField;
class SettingsNavigator;
class SettingsRow;
class TextLabel;
class Tween;

// The transformation as the editor's dropdown offers it, in its order.
enum class TransformChoice { raw, tidy, email, custom };

TransformChoice transformChoiceOf(const Transformation& transformation);
// `customText` is used for `custom` only, exactly as typed.
Transformation transformationFor(TransformChoice choice, const QString& customText);

// "DEFAULT": the pill of the default mode, on the modes list and in the editor.
QString defaultModePillText();

// A mode's name as stored: leading and trailing spaces and tabs removed, line
// breaks and every other character kept.
QString trimmedModeName(const QString& name);

// The back chevron of the editor's header: secondary ink, ink under the pointer
// (fading over 0.1 s), a 20 x 20 target.
class EditorBackButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit EditorBackButton(QWidget* parent = nullptr);

  bool isHovering() const { return hovering_; }
  QSize sizeHint() const override { return QSize(20, 20); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  void setHovering(bool hovering);

  bool hovering_ = false;
  Tween* hover_;
};

// The custom-instructions box: wrapped text on a raised, outlined rounded
// rectangle, at least 3 and at most 8 lines high; longer text scrolls inside.
class CustomInstructionsField : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinLines = 3;
  static constexpr int kMaxLines = 8;

  explicit CustomInstructionsField(const QString& text, QWidget* parent = nullptr);

  QString text() const;
  void setText(const QString& text);
  QTextEdit* editor() const { return edit_; }
  // How many lines the box shows now.
  int visibleLineCount() const;

 Q_SIGNALS:
  void textChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void applyLineSpacing();
  void resizeToLines();
  qreal lineStep() const;

  QTextEdit* edit_;
};

// Creates a mode or edits one: name, transformation (with custom
// instructions), its own hotkey and the default flag. Nothing is stored while
// the user edits; SAVE writes one mode through the store and registers the
// hotkeys anew, so a changed mode hotkey works at once; DELETE MODE removes it
// likewise. A transformation that runs the language model cannot be saved
// while the model file is not installed; a notice then leads to the models
// page. The editor ends by emitting `closed` (after save, delete, cancel and
// back); "Go to Models" leaves the page instead, dropping the editor.
class ModeEditorView : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    ModeStore& store;
    HotKeyService& hotKeys;
    SettingsNavigator& navigator;
    Clock& clock;  // the hotkey recorder's time-out
  };

  // `mode`: the mode as it was when its row was clicked; none creates a new one.
  ModeEditorView(Services services, std::optional<Mode> mode, QWidget* parent = nullptr);
  ~ModeEditorView() override;

  bool isCreating() const { return !mode_.has_value(); }
  const QUuid& modeId() const { return modeId_; }
  TransformChoice transformChoice() const { return choice_; }
  // The chosen transformation needs the language model and its file is not
  // installed at exactly its size. Asks the file system on every call.
  bool languageModelMissing() const;
  bool canSave() const;
  // The editor's unsaved hotkey.
  std::optional<KeyCombo> hotkey() const;

  // What the dropdown's pick does.
  void chooseTransform(TransformChoice choice);
  void save();
  void deleteMode();
  // Back and CANCEL: ends the editor, storing nothing.
  void closeEditor();
  void openModelsPage();

  TextLabel* titleLabel() const { return title_; }
  EditorBackButton* backButton() const { return back_; }
  DSTextField* nameField() const { return name_; }
  DSDropdown* transformDropdown() const { return transform_; }
  QWidget* customSection() const { return customSection_; }
  CustomInstructionsField* customField() const { return custom_; }
  QWidget* modelNotice() const { return notice_; }
  EditorialPillButton* modelsButton() const { return modelsButton_; }
  ModeHotkeyField* hotkeyField() const { return hotkeyField_; }
  SettingsRow* defaultRow() const { return defaultRow_; }
  // The toggle, or the pill of a mode that was default when the editor opened.
  EditorialToggleButton* defaultToggle() const { return defaultToggle_; }
  EditorialStatusPill* defaultPill() const { return defaultPill_; }
  EditorialPillButton* deleteButton() const { return delete_; }
  EditorialPillButton* cancelButton() const { return cancel_; }
  EditorialPillButton* saveButton() const { return save_; }

 Q_SIGNALS:
  void closed();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refresh();
  bool storedDefaultFlag() const;

  Services s_;
  std::optional<Mode> mode_;
  QUuid modeId_;
  TransformChoice choice_;
  bool shownMissing_ = false;
  bool refreshQueued_ = false;
  TextLabel* title_;
  EditorBackButton* back_;
  DSTextField* name_;
  DSDropdown* transform_;
  QWidget* customSection_;
  CustomInstructionsField* custom_;
  QWidget* noticeSection_;
  QWidget* notice_;
  EditorialPillButton* modelsButton_;
  ModeHotkeyField* hotkeyField_;
  SettingsRow* defaultRow_;
  EditorialToggleButton* defaultToggle_ = nullptr;
  EditorialStatusPill* defaultPill_ = nullptr;
  EditorialPillButton* delete_;
  EditorialPillButton* cancel_;
  EditorialPillButton* save_;
};

}  // namespace murel
