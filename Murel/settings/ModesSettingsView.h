#pragma once

#include "text/ModeStore.h"

#include <QPointer>
#include <QWidget>

namespace murel {

class Clock;
class EditorialPillButton;
class HotKeyService;
class ModeEditorView;
class SettingsCard;
class SettingsChapterRow;
class SettingsNavigator;

// "raw", or "email · L Ctrl L Alt E": the lower-case transformation name and
// the mode's hotkey when it has one.
QString modeRowSummary(const Mode& mode);

// The modes tab: the user's modes numbered in stored order, each with its
// transformation and hotkey and a DEFAULT pill on the default one, an ADD
// button, and a click on a row to edit it. The editor takes the place of the
// whole page until it closes; switching tabs drops it with its unsaved input.
// The list follows the store, so a change made anywhere shows at once.
class ModesSettingsView : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    ModeStore& store;
    HotKeyService& hotKeys;
    SettingsNavigator& navigator;
    Clock& clock;  // the editor's hotkey recorder
  };

  explicit ModesSettingsView(Services services, QWidget* parent = nullptr);

  // A click on a row: the editor on the mode as it is now.
  void openModeEditor(const Mode& mode);
  // ADD: the editor for a new mode.
  void beginNewMode();
  // The editor's close: the list again.
  void closeModeEditor();

  // The open editor, if any.
  ModeEditorView* editor() const;
  // The list's rows in order; empty while the editor is open.
  const QList<SettingsChapterRow*>& rows() const { return rows_; }
  EditorialPillButton* addButton() const { return add_; }
  SettingsCard* card() const { return card_; }

 private:
  void showList();
  void showEditor(std::optional<Mode> mode);
  void setContent(QWidget* content);
  void rebuildRows();

  Services s_;
  QPointer<QWidget> content_;
  QPointer<ModeEditorView> editor_;
  EditorialPillButton* add_ = nullptr;
  SettingsCard* card_ = nullptr;
  QList<SettingsChapterRow*> rows_;
};

}  // namespace murel
