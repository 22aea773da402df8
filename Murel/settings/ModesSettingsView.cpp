#include "settings/ModesSettingsView.h"

#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "settings/ModeEditorView.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace murel {

QString modeRowSummary(const Mode& mode) {
  QString summary = mode.transformation.displayName().toLower();
  if (mode.hotkey) summary += QStringLiteral(" \u00B7 ") + mode.hotkey->displayString();
  return summary;
}

ModesSettingsView::ModesSettingsView(Services services, QWidget* parent) : QWidget(parent), s_(services) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  connect(&s_.store, &ModeStore::modesChanged, this, &ModesSettingsView::rebuildRows);
  showList();
}

ModeEditorView* ModesSettingsView::editor() const { return editor_.data(); }

void ModesSettingsView::openModeEditor(const Mode& mode) { showEditor(mode); }

void ModesSettingsView::beginNewMode() { showEditor(std::nullopt); }

void ModesSettingsView::closeModeEditor() { showList(); }

void ModesSettingsView::setContent(QWidget* content) {
  if (content_) {
    // The swap may come from inside the old content (a row's click, the
    // editor's SAVE): it goes once that has returned.
    content_->hide();
    content_->deleteLater();
  }
  content_ = content;
  layout()->addWidget(content);
  content->show();
}

void ModesSettingsView::showEditor(std::optional<Mode> mode) {
  card_ = nullptr;
  add_ = nullptr;
  rows_.clear();
  auto* editor =
      new ModeEditorView(ModeEditorView::Services{s_.store, s_.hotKeys, s_.navigator, s_.clock}, std::move(mode), this);
  connect(editor, &ModeEditorView::closed, this, &ModesSettingsView::closeModeEditor);
  editor_ = editor;
  setContent(editor);
}

void ModesSettingsView::showList() {
  editor_ = nullptr;
  auto* page = new SettingsPageLayout(this);
  QWidget* column = page->column();

  //% "Modes"
  //: Page header title for the Modes settings pane.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.modes.title"), column));

  auto* header = new QWidget(column);
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 16);
  auto* intro = new QVBoxLayout;
  intro->setContentsMargins(0, 0, 0, 0);
  intro->setSpacing(8);
  //% "YOUR MODES"
  //: Card label above the list of modes.
  intro->addWidget(new SettingsCardLabel(qtTrId("settings.modes.list"), header));
  //% "build a mode for every flow — your voice, your words, your way."
  //: Explanatory text under the modes header.
  intro->addWidget(
      new TextLabel(qtTrId("settings.modes.description"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, header));
  headerRow->addLayout(intro, 1);
  headerRow->addStretch(0);
  //% "ADD"
  //: Button to add a new mode.
  add_ = new EditorialPillButton(
      qtTrId("settings.modes.add"), DSColor::accent, [this] { beginNewMode(); }, header);
  headerRow->addWidget(add_, 0, Qt::AlignTop);
  page->addContent(header);

  card_ = new SettingsCard(column);
  page->addContent(card_);
  rows_.clear();
  setContent(page);
  rebuildRows();
}

void ModesSettingsView::rebuildRows() {
  if (!card_) return;  // the editor is open
  for (SettingsChapterRow* row : std::as_const(rows_)) {
    QWidget* padded = row->parentWidget();
    padded->hide();
    padded->deleteLater();
  }
  rows_.clear();
  const QList<Mode>& modes = s_.store.modes();
  for (qsizetype i = 0; i < modes.size(); ++i) {
    const Mode& mode = modes[i];
    auto* padded = new QWidget(card_);
    auto* layout = new QVBoxLayout(padded);
    layout->setContentsMargins(20, 0, 20, 0);
    layout->setSpacing(0);
    EditorialStatusPill* pill = nullptr;
    if (mode.isDefault) {
      pill = new EditorialStatusPill(defaultModePillText(), EditorialStatusPill::Leading::checkmark, DSColor::accent,
                                     padded);
    }
    // The editor opens on the mode as the store holds it at the click.
    const QUuid id = mode.id;
    auto* row = new SettingsChapterRow(
        int(i) + 1, mode.name, modeRowSummary(mode), mode.isDefault,
        [this, id] {
          for (const Mode& m : s_.store.modes()) {
            if (m.id == id) {
              openModeEditor(m);
              return;
            }
          }
        },
        pill, padded);
    layout->addWidget(row);
    card_->addRow(padded);
    // Shown now, not one turn later as a child added to a shown card would be.
    padded->show();
    rows_.append(row);
  }
}

}  // namespace murel
