// The modes page and its mode editor in a real settings window on the rig's
// display: the list follows a real mode store, the editor saves through it,
// mode hotkeys are recorded from the X keyboard (xdotool) and registered with
// the real X11 key tap, and the language-model file is a sparse file of the
// sizes that matter.
#include "app/MurelApp.h"
#include "app/SettingsNavigator.h"
#include "design/EditorialComponents.h"
#include "design/InputComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "platform/pulse/SoundServer.h"
#include "platform/x11/X11KeyEventTap.h"
#include "root/SettingsWiring.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/ModeEditorView.h"
#include "settings/ModeHotkeyField.h"
#include "settings/ModesSettingsView.h"
#include "speech/LanguageModelFile.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"
#include "text/VoiceEditPreferences.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using M = KeyModifiers;
using Scheme = Appearance::Scheme;

namespace {

// What xdotool's ctrl+alt+… sends: the left keys.
const KeyCombo kCtrlAltE(Key::e, M::leftControl | M::leftOption);
const KeyCombo kCtrlAltD(Key::d, M::leftControl | M::leftOption);
const KeyCombo kCtrlAltV(Key::v, M::leftControl | M::leftOption);
const KeyCombo kCtrlAltM(Key::m, M::leftControl | M::leftOption);
const KeyCombo kCtrlAltK(Key::k, M::leftControl | M::leftOption);

void writeModelFile(qint64 size) {
  QDir().mkpath(gemmaModelDirectory());
  QFile file(gemmaModelPath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(file.resize(size));  // sparse: no disk space taken
}

void removeModelFile() { QFile::remove(gemmaModelPath()); }

Mode makeMode(const QString& name, Transformation transformation, std::optional<KeyCombo> hotkey = std::nullopt,
              bool isDefault = false) {
  return Mode{QUuid::createUuid(), name, std::move(transformation), hotkey, isDefault};
}

QStringList defaultPillsIn(QWidget* root) {
  QStringList shown;
  for (auto* pill : root->findChildren<EditorialStatusPill*>())
    if (pill->isVisibleTo(root) && pill->label() == QStringLiteral("DEFAULT")) shown << pill->label();
  return shown;
}

class ModesPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
    Fonts::registerBundled();
  }

  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under the rig";
    removeModelFile();
    hotKeys.onSessionChanged = [this](bool started, const HotKeyService::Session& session) {
      if (started) sessions.append(session);
    };
    registerModesPages(pages, store, voiceEdit, hotKeys);
    // The pages on the test's clock, so a capture's time-out is the test's to give.
    pages.set(SettingsTab::modes, [this](const SettingsPageContext& context, QWidget* parent) -> QWidget* {
      return new ModesSettingsView(ModesSettingsView::Services{store, hotKeys, context.navigator, recorderClock},
                                   parent);
    });
  }

  void TearDown() override {
    window.reset();
    removeModelFile();
  }

  void openWindow() {
    hotKeys.reloadRegistrations();
    window = std::make_unique<SettingsWindowRig>(SettingsTab::modes, pages);
    focusWindow();
  }

  void focusWindow() {
    QWidget& top = window->window();
    top.raise();
    top.activateWindow();
    if (waitUntil([&] { return top.isActiveWindow(); }, std::chrono::seconds(1))) return;
    // After another client had the focus, a request stamped with our last
    // event's time can be refused: set it outright.
    ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(top.winId())}));
    ASSERT_TRUE(waitUntil([&] { return top.isActiveWindow(); }));
  }

  ModesSettingsView* page() { return qobject_cast<ModesSettingsView*>(window->view().currentPage()); }
  ModeEditorView* editor() { return page() ? page()->editor() : nullptr; }

  // A real click on a widget, scrolled into view first.
  void click(QWidget* widget) {
    for (QWidget* p = widget->parentWidget(); p; p = p->parentWidget()) {
      if (auto* scroll = qobject_cast<QScrollArea*>(p)) {
        scroll->ensureWidgetVisible(widget, 0, 40);
        break;
      }
    }
    window->window().raise();
    settle(20);
    ASSERT_TRUE(clickCentre(widget));
  }

  void keys(const QString& combo) {
    if (!window->window().isActiveWindow()) focusWindow();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), combo}));
  }

  // Records a combination in the open editor's HOTKEY card.
  void record(const QString& combo) {
    ModeHotkeyField* field = editor()->hotkeyField();
    click(field->recordButton());
    ASSERT_TRUE(waitUntil([&] { return field->recorder().isRecording(); }));
    keys(combo);
    ASSERT_TRUE(waitUntil([&] { return !field->recorder().isRecording(); }));
    settle(20);
  }

  void setName(const QString& name) { editor()->nameField()->lineEdit()->setText(name); }

  const Mode* storedMode(const QUuid& id) const {
    for (const Mode& m : store.modes())
      if (m.id == id) return &m;
    return nullptr;
  }
  QUuid defaultId() const {
    QUuid id;
    int flagged = 0;
    for (const Mode& m : store.modes()) {
      if (!m.isDefault) continue;
      id = m.id;
      ++flagged;
    }
    return flagged == 1 ? id : QUuid();
  }
  QString storedModesText() const {
    return QString::fromUtf8(defaults.dataValue(QString::fromLatin1(ModeStore::kKey)).value_or(QByteArray()));
  }

  void shoot(const QString& name) {
    for (Scheme scheme : {Scheme::Light, Scheme::Dark}) settingsScreenshot(window->window(), name, scheme);
    const QStringList texts = visibleTexts(&window->window());
    EXPECT_TRUE(rawKeysAmong(texts).isEmpty()) << texts.join(QStringLiteral(" | ")).toStdString();
  }

  QString dir = freshDir(QStringLiteral("modes-page"));
  UserDefaults defaults{dir + QStringLiteral("/defaults.json")};
  ModeStore store{defaults};
  VoiceEditPreferences voiceEdit{defaults};
  X11KeyEventTap tap;
  HotKeyService hotKeys{defaults, tap,
                        HotKeyService::UserData{[this] {
                                                  QList<HotKeyService::ModeHotKey> list;
                                                  for (const Mode& m : store.modes()) list.append({m.id, m.hotkey});
                                                  return list;
                                                },
                                                [this] { return voiceEdit.isEnabled(); }}};
  FakeClock recorderClock;
  SettingsPages pages;
  std::unique_ptr<SettingsWindowRig> window;
  QList<HotKeyService::Session> sessions;
};

}  // namespace

TEST(ModeRowSummary, LowerCaseNameThenTheHotkeyInLinuxLabels) {
  ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
  EXPECT_EQ(modeRowSummary(makeMode("A", Transformation::raw())), QStringLiteral("raw"));
  EXPECT_EQ(modeRowSummary(makeMode("A", Transformation::preset(TransformPreset::tidy))), QStringLiteral("tidy"));
  EXPECT_EQ(modeRowSummary(makeMode("A", Transformation::custom("x"))), QStringLiteral("custom"));
  EXPECT_EQ(modeRowSummary(makeMode("A", Transformation::preset(TransformPreset::email),
                                    KeyCombo(Key::e, M::control | M::option))),
            QStringLiteral("email \u00B7 Ctrl Alt E"));
  EXPECT_EQ(modeRowSummary(makeMode("A", Transformation::raw(), kCtrlAltE)),
            QStringLiteral("raw \u00B7 L Ctrl L Alt E"));
}

TEST(ModeName, TrimsSpacesAndTabsOnly) {
  const std::pair<QString, QString> cases[] = {
      {"  Work  ", "Work"},         {"\tWork\t ", "Work"},        {"   ", ""}, {"", ""}, {"Work\n", "Work\n"},
      {"\u00A0Work", "\u00A0Work"}, {"two  words", "two  words"},
  };
  for (const auto& [typed, stored] : cases) EXPECT_EQ(trimmedModeName(typed), stored) << typed.toStdString();
}

TEST_F(ModesPage, ListNumbersRowsAndFollowsTheStore) {
  const Mode email = makeMode("Email", Transformation::preset(TransformPreset::email), kCtrlAltE);
  const Mode twin = makeMode("Email", Transformation::raw());
  store.add(email);
  store.add(twin);
  openWindow();
  ASSERT_TRUE(page());
  ASSERT_EQ(page()->rows().size(), 3);
  const QStringList expectedNames{"Default", "Email", "Email"};
  const QStringList expectedSummaries{"raw", "email \u00B7 L Ctrl L Alt E", "raw"};
  for (int i = 0; i < 3; ++i) {
    SettingsChapterRow* row = page()->rows()[i];
    EXPECT_EQ(row->numeral()->text(), QStringLiteral("0%1").arg(i + 1));
    EXPECT_EQ(row->titleLabel()->text(), expectedNames[i]);
    EXPECT_TRUE(visibleTexts(row).contains(expectedSummaries[i])) << visibleTexts(row).join("|").toStdString();
  }
  EXPECT_EQ(defaultPillsIn(page()->card()).size(), 1);
  EXPECT_EQ(defaultPillsIn(page()->rows()[0]->parentWidget()).size(), 1);
  const QStringList texts = visibleTexts(page());
  for (const char* text :
       {"Modes", "YOUR MODES", "build a mode for every flow — your voice, your words, your way.", "ADD"})
    EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
  shoot(QStringLiteral("modes-list"));

  // Changes made through the store elsewhere show at once.
  store.setDefault(email.id);
  ASSERT_EQ(page()->rows().size(), 3);
  EXPECT_EQ(defaultPillsIn(page()->card()).size(), 1);
  EXPECT_EQ(defaultPillsIn(page()->rows()[1]->parentWidget()).size(), 1);
  EXPECT_TRUE(page()->rows()[1]->numeral()->isActive());
  Mode noHotkey = email;
  noHotkey.hotkey.reset();
  noHotkey.isDefault = true;
  store.update(noHotkey);
  EXPECT_TRUE(visibleTexts(page()->rows()[1]).contains(QStringLiteral("email")));
  store.remove(store.modes().first().id);
  ASSERT_EQ(page()->rows().size(), 2);
  EXPECT_EQ(page()->rows()[0]->titleLabel()->text(), QStringLiteral("Email"));
  EXPECT_EQ(page()->rows()[0]->numeral()->text(), QStringLiteral("01"));
  EXPECT_EQ(page()->rows()[1]->numeral()->text(), QStringLiteral("02"));
}

TEST_F(ModesPage, ARowOpensTheEditorOnThatMomentsValuesAndBackReturns) {
  const Mode work = makeMode("Work", Transformation::custom("be brief"), kCtrlAltE);
  store.add(work);
  openWindow();
  // Renamed elsewhere after the list was drawn: the click sees the new values.
  Mode renamed = work;
  renamed.name = QStringLiteral("Office");
  store.update(renamed);
  click(page()->rows()[1]);
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(50);
  EXPECT_TRUE(page()->rows().isEmpty());
  EXPECT_EQ(editor()->titleLabel()->text(), QStringLiteral("Edit mode"));
  EXPECT_EQ(editor()->nameField()->text(), QStringLiteral("Office"));
  EXPECT_EQ(editor()->transformChoice(), TransformChoice::custom);
  EXPECT_EQ(editor()->customField()->text(), QStringLiteral("be brief"));
  EXPECT_TRUE(editor()->customSection()->isVisible());
  EXPECT_EQ(editor()->hotkeyField()->keycapLabels(), (QStringList{"L Ctrl", "L Alt", "E"}));
  EXPECT_EQ(editor()->backButton()->accessibleName(), QStringLiteral("Back"));
  EXPECT_FALSE(visibleTexts(page()).contains(QStringLiteral("YOUR MODES")));

  // The chevron lights up under the pointer and takes the editor away.
  ASSERT_TRUE(hoverAt(editor()->backButton(), editor()->backButton()->rect().center()));
  ASSERT_TRUE(waitUntil([&] { return editor()->backButton()->isHovering(); }));
  click(editor()->backButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr && page()->rows().size() == 2; }));
  EXPECT_EQ(store.modes()[1], renamed);
}

// Each row is one way through the editor: what was typed and chosen, and what the store holds after SAVE.
TEST_F(ModesPage, EditorSavesWhatTheRulesAllow) {
  struct Case {
    const char* rule;
    QString name;
    TransformChoice choice;
    QString instructions;
    std::optional<qint64> modelSize;
    bool canSave;
    QString storedName;  // when saved
    Transformation stored;
  };
  const qint64 exact = kGemmaModelSizeBytes;
  const Case cases[] = {
      {"a name of spaces keeps SAVE off", "   ", TransformChoice::raw, {}, std::nullopt, false, {}, {}},
      {"a name of tabs and spaces too", "\t \t", TransformChoice::raw, {}, std::nullopt, false, {}, {}},
      {"spaces around the name go", "  Work  ", TransformChoice::raw, {}, std::nullopt, true, "Work", {}},
      {"raw never needs the model", "Plain", TransformChoice::raw, {}, exact - 1, true, "Plain", {}},
      {"tidy without the model file", "Tidy", TransformChoice::tidy, {}, std::nullopt, false, {}, {}},
      {"tidy one byte short", "Tidy", TransformChoice::tidy, {}, exact - 1, false, {}, {}},
      {"tidy one byte long", "Tidy", TransformChoice::tidy, {}, exact + 1, false, {}, {}},
      {"tidy with the exact file",
       "Tidy",
       TransformChoice::tidy,
       {},
       exact,
       true,
       "Tidy",
       Transformation::preset(TransformPreset::tidy)},
      {"email without the model", "Mail", TransformChoice::email, {}, std::nullopt, false, {}, {}},
      {"custom with empty instructions",
       "Mine",
       TransformChoice::custom,
       {},
       exact,
       true,
       "Mine",
       Transformation::custom({})},
      {"custom instructions stay untrimmed", "Mine", TransformChoice::custom, "  keep my spaces \n", exact, true,
       "Mine", Transformation::custom("  keep my spaces \n")},
      {"custom without the model", "Mine", TransformChoice::custom, "x", std::nullopt, false, {}, {}},
  };
  openWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    removeModelFile();
    if (c.modelSize) writeModelFile(*c.modelSize);
    const int before = int(store.modes().size());
    click(page()->addButton());
    ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
    settle(30);
    EXPECT_EQ(editor()->titleLabel()->text(), QStringLiteral("New mode"));
    EXPECT_FALSE(editor()->deleteButton()->isVisible()) << "a new mode is never deleted";
    setName(c.name);
    editor()->chooseTransform(c.choice);
    if (c.choice == TransformChoice::custom) editor()->customField()->setText(c.instructions);
    settle(30);
    const bool missing = c.choice != TransformChoice::raw && c.modelSize != exact;
    EXPECT_EQ(editor()->modelNotice()->isVisible(), missing);
    EXPECT_EQ(editor()->saveButton()->isEnabled(), c.canSave);
    EXPECT_EQ(editor()->saveButton()->tint(), c.canSave ? DSColor::accent : DSColor::inkSecondary);
    click(editor()->saveButton());
    if (!c.canSave) {
      if (!missing) {
        // A save reached anyway stores nothing either.
        editor()->save();
        EXPECT_NE(editor(), nullptr);
        EXPECT_EQ(int(store.modes().size()), before);
      }
      click(editor()->cancelButton());
      ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
      continue;
    }
    ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
    ASSERT_EQ(int(store.modes().size()), before + 1);
    const Mode& saved = store.modes().last();
    EXPECT_EQ(saved.name, c.storedName);
    EXPECT_EQ(saved.transformation, c.stored);
    EXPECT_FALSE(saved.isDefault);
    EXPECT_EQ(page()->rows().last()->titleLabel()->text(), c.storedName) << "appended at the end";
    EXPECT_TRUE(storedModesText().contains(c.storedName));
  }
}

// The editor's language-model check is made again whenever it is drawn.
TEST_F(ModesPage, TheModelNoticeFollowsTheFileAndLeadsToModels) {
  // Its page covers it with an opaque column: drawing it again is drawing that.
  auto redraw = [this] { editor()->findChild<SettingsPageLayout*>()->widget()->update(); };
  openWindow();
  click(page()->addButton());
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  setName(QStringLiteral("Polish"));
  editor()->chooseTransform(TransformChoice::tidy);
  settle(30);
  ASSERT_TRUE(editor()->modelNotice()->isVisible());
  const QStringList texts = visibleTexts(editor());
  EXPECT_TRUE(texts.contains(QStringLiteral("Language model required")));
  EXPECT_TRUE(texts.contains(
      QStringLiteral("this transformation runs a local model. download it from Models to save this mode.")));
  shoot(QStringLiteral("mode-editor-model-notice"));

  writeModelFile(kGemmaModelSizeBytes);
  redraw();
  ASSERT_TRUE(waitUntil([&] { return !editor()->modelNotice()->isVisible(); }));
  EXPECT_TRUE(editor()->saveButton()->isEnabled());
  removeModelFile();
  redraw();
  ASSERT_TRUE(waitUntil([&] { return editor()->modelNotice()->isVisible(); }));
  EXPECT_FALSE(editor()->saveButton()->isEnabled());
  // Choosing Raw drops both conditions at once.
  editor()->chooseTransform(TransformChoice::raw);
  EXPECT_FALSE(editor()->modelNotice()->isVisible());
  EXPECT_TRUE(editor()->saveButton()->isEnabled());
  editor()->chooseTransform(TransformChoice::email);

  // "Go to Models" leaves the page; the editor and its input go with it.
  const int before = int(store.modes().size());
  click(editor()->modelsButton());
  ASSERT_TRUE(waitUntil([&] { return window->view().currentTab() == SettingsTab::models; }));
  EXPECT_EQ(window->navigator().selectedTab(), SettingsTab::models);
  EXPECT_EQ(int(store.modes().size()), before);
  window->show(SettingsTab::modes);
  ASSERT_TRUE(page());
  EXPECT_EQ(page()->editor(), nullptr);
  EXPECT_EQ(int(page()->rows().size()), before);
}

TEST_F(ModesPage, TheTransformationDropdownAndTheGrowingInstructions) {
  writeModelFile(kGemmaModelSizeBytes);
  openWindow();
  click(page()->addButton());
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(50);
  DSDropdown* dropdown = editor()->transformDropdown();
  QStringList labels;
  for (const DSDropdownOption& option : dropdown->options()) labels << option.label;
  EXPECT_EQ(labels, (QStringList{"Raw", "Tidy", "Email", "Custom"}));
  EXPECT_EQ(dropdown->selectedLabel(), QStringLiteral("Raw"));
  EXPECT_FALSE(editor()->customSection()->isVisible());

  // Picked with the pointer from the open list.
  click(dropdown->control());
  ASSERT_TRUE(waitUntil([&] { return dropdown->isExpanded(); }));
  settle(200);
  const QRect list = dropdown->listGeometry();
  const int row = list.height() / 4;
  ASSERT_TRUE(clickAt(&window->window(), QPoint(list.center().x(), list.top() + row * 3 + row / 2)));
  ASSERT_TRUE(waitUntil([&] { return editor()->transformChoice() == TransformChoice::custom; }));
  EXPECT_EQ(dropdown->selectedLabel(), QStringLiteral("Custom"));
  ASSERT_TRUE(editor()->customSection()->isVisible());
  const QStringList texts = visibleTexts(editor());
  EXPECT_TRUE(texts.contains(QStringLiteral("CUSTOM INSTRUCTIONS")));
  EXPECT_EQ(editor()->customField()->editor()->placeholderText(),
            QStringLiteral("describe how to transform the transcript…"));
  shoot(QStringLiteral("mode-editor-custom"));

  // From 3 lines up to 8, then it scrolls.
  CustomInstructionsField* field = editor()->customField();
  EXPECT_EQ(field->visibleLineCount(), 3);
  const auto lines = [](int n) {
    QStringList list;
    for (int i = 1; i <= n; ++i) list << QStringLiteral("line %1").arg(i);
    return list.join('\n');
  };
  field->setText(lines(5));
  settle(20);
  EXPECT_EQ(field->visibleLineCount(), 5);
  field->setText(lines(12));
  settle(20);
  EXPECT_EQ(field->visibleLineCount(), 8);
  EXPECT_GT(field->editor()->verticalScrollBar()->maximum(), 0);

  // Away from custom and back: the typed text stays until the editor closes.
  editor()->chooseTransform(TransformChoice::tidy);
  EXPECT_FALSE(editor()->customSection()->isVisible());
  editor()->chooseTransform(TransformChoice::custom);
  EXPECT_EQ(field->text(), lines(12));
  // Typed for real into the name field.
  click(editor()->nameField()->lineEdit());
  ASSERT_TRUE(waitUntil([&] { return editor()->nameField()->isFocused(); }));
  ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("  Notes  ")}));
  ASSERT_TRUE(waitUntil([&] { return editor()->nameField()->text() == QStringLiteral("  Notes  "); }));
  click(editor()->saveButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  EXPECT_EQ(store.modes().last().name, QStringLiteral("Notes"));
  EXPECT_EQ(store.modes().last().transformation, Transformation::custom(lines(12)));
}

TEST_F(ModesPage, TheDefaultFlagAndDeleting) {
  const Mode other = makeMode("Other", Transformation::raw());
  store.add(other);
  const QUuid first = store.modes().first().id;
  openWindow();

  // The default mode shows the pill, no toggle, and stays default.
  click(page()->rows()[0]);
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(30);
  ASSERT_NE(editor()->defaultPill(), nullptr);
  EXPECT_EQ(editor()->defaultToggle(), nullptr);
  EXPECT_EQ(editor()->defaultPill()->label(), QStringLiteral("DEFAULT"));
  EXPECT_TRUE(editor()->deleteButton()->isVisible());
  setName(QStringLiteral("Main"));
  click(editor()->saveButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  EXPECT_EQ(defaultId(), first);
  EXPECT_EQ(store.modes().first().name, QStringLiteral("Main"));

  // The toggle on another mode makes it the only default.
  click(page()->rows()[1]);
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(30);
  ASSERT_NE(editor()->defaultToggle(), nullptr);
  EXPECT_FALSE(editor()->defaultToggle()->isOn());
  click(editor()->defaultToggle());
  ASSERT_TRUE(waitUntil([&] { return editor()->defaultToggle()->isOn(); }));
  shoot(QStringLiteral("mode-editor-edit"));
  click(editor()->saveButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  EXPECT_EQ(defaultId(), other.id);
  EXPECT_EQ(defaultPillsIn(page()->card()).size(), 1);

  // Deleting the default of two leaves the other one default; then no DELETE MODE.
  click(page()->rows()[1]);
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(30);
  click(editor()->deleteButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  ASSERT_EQ(store.modes().size(), 1);
  EXPECT_EQ(defaultId(), first);
  EXPECT_FALSE(storedModesText().contains(QStringLiteral("Other")));
  click(page()->rows()[0]);
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(30);
  EXPECT_FALSE(editor()->deleteButton()->isVisible());
  EXPECT_FALSE(visibleTexts(editor()).contains(QStringLiteral("DELETE MODE")));
}

// The default may move elsewhere (tray panel, mode switcher) while an editor is open.
TEST_F(ModesPage, SaveKeepsTheDefaultWhereTheStoreHasItNow) {
  const Mode a = makeMode("A", Transformation::raw());
  store.add(a);
  const QUuid b = store.modes().first().id;
  openWindow();

  // Open on A; A becomes default elsewhere; a renamed SAVE keeps it default.
  page()->openModeEditor(*storedMode(a.id));
  settle(30);
  store.setDefault(a.id);
  setName(QStringLiteral("A2"));
  click(editor()->saveButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  EXPECT_EQ(defaultId(), a.id);
  EXPECT_EQ(storedMode(a.id)->name, QStringLiteral("A2"));

  // Open on default A; B becomes default elsewhere; SAVE leaves B default.
  page()->openModeEditor(*storedMode(a.id));
  settle(30);
  ASSERT_NE(editor()->defaultPill(), nullptr);
  store.setDefault(b);
  setName(QStringLiteral("A3"));
  click(editor()->saveButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  EXPECT_EQ(defaultId(), b);
  EXPECT_EQ(storedMode(a.id)->name, QStringLiteral("A3"));
}

TEST_F(ModesPage, AModeHotkeyRecordedSavedAndCaughtAtOnce) {
  writeModelFile(kGemmaModelSizeBytes);
  openWindow();
  click(page()->addButton());
  ASSERT_TRUE(waitUntil([&] { return editor() != nullptr; }));
  settle(30);
  ModeHotkeyField* field = editor()->hotkeyField();
  EXPECT_TRUE(field->noHotkeyLabel()->isVisible());
  EXPECT_EQ(field->noHotkeyLabel()->text(), QStringLiteral("no hotkey"));
  EXPECT_FALSE(field->clearButton()->isVisible());
  EXPECT_EQ(field->recordButton()->text(), QStringLiteral("RECORD"));
  EXPECT_TRUE(visibleTexts(editor()).contains(QStringLiteral("HOTKEY")));
  shoot(QStringLiteral("mode-editor-new"));

  click(field->recordButton());
  ASSERT_TRUE(waitUntil([&] { return field->recorder().isRecording(); }));
  EXPECT_EQ(field->recordButton()->text(), QStringLiteral("LISTENING…"));
  EXPECT_TRUE(hotKeys.isPaused());
  // RECORD while listening does nothing.
  click(field->recordButton());
  EXPECT_TRUE(field->recorder().isRecording());
  keys(QStringLiteral("ctrl+alt+e"));
  ASSERT_TRUE(waitUntil([&] { return !field->recorder().isRecording(); }));
  EXPECT_FALSE(hotKeys.isPaused());
  EXPECT_EQ(field->keycapLabels(), (QStringList{"L Ctrl", "L Alt", "E"}));
  EXPECT_EQ(field->hotkey(), kCtrlAltE);
  EXPECT_TRUE(field->clearButton()->isVisible());
  EXPECT_EQ(field->recordButton()->text(), QStringLiteral("RECORD"));
  // Nothing stored before SAVE.
  EXPECT_FALSE(storedModesText().contains(QStringLiteral("\"hotkey\"")));

  setName(QStringLiteral("Mail"));
  editor()->chooseTransform(TransformChoice::email);
  const QUuid id = editor()->modeId();
  click(editor()->saveButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  ASSERT_NE(storedMode(id), nullptr);
  EXPECT_EQ(storedMode(id)->hotkey, kCtrlAltE);
  EXPECT_TRUE(storedModesText().contains(QStringLiteral("\"hotkey\"")));
  EXPECT_TRUE(visibleTexts(page()->rows().last()).contains(QStringLiteral("email \u00B7 L Ctrl L Alt E")));

  // Registered at once: the keys start a dictation in that mode.
  keys(QStringLiteral("ctrl+alt+e"));
  ASSERT_TRUE(waitUntil([&] { return !sessions.isEmpty(); }));
  EXPECT_EQ(sessions.first(), HotKeyService::Session::dictation(id));
}

TEST_F(ModesPage, ClashingCombinationsAreRefusedAndTheModesOwnAccepted) {
  defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  defaults.setValue(QStringLiteral("commandEditCombo"), kCtrlAltV.rawValue());
  HotKeyService reread(defaults, tap);  // the stored values, as a fresh service reads them
  hotKeys.setCurrentCombo(reread.currentCombo());
  hotKeys.setCommandEditCombo(reread.commandEditCombo());
  ASSERT_FALSE(voiceEdit.isEnabled());  // voice edit off: its hotkey still counts
  const Mode other = makeMode("Other", Transformation::raw(), kCtrlAltM);
  const Mode own = makeMode("Own", Transformation::raw(), kCtrlAltK);
  store.add(other);
  store.add(own);
  openWindow();
  page()->openModeEditor(*storedMode(own.id));
  settle(30);
  ModeHotkeyField* field = editor()->hotkeyField();
  EXPECT_FALSE(field->conflictLabel()->isVisible());

  const char* taken[] = {"ctrl+alt+d", "alt+shift+space", "ctrl+alt+v", "ctrl+alt+m"};
  for (const char* combo : taken) {
    SCOPED_TRACE(combo);
    record(QString::fromLatin1(combo));
    EXPECT_TRUE(field->conflict());
    EXPECT_TRUE(field->conflictLabel()->isVisible());
    EXPECT_EQ(field->conflictLabel()->text(), QStringLiteral("that shortcut is already in use."));
    EXPECT_EQ(field->conflictLabel()->style().color, DSColor::danger);
    EXPECT_EQ(field->hotkey(), kCtrlAltK) << "the previous combination stays";
  }
  shoot(QStringLiteral("mode-editor-conflict"));

  // The mode's own stored combination is no clash.
  record(QStringLiteral("ctrl+alt+k"));
  EXPECT_FALSE(field->conflict());
  EXPECT_FALSE(field->conflictLabel()->isVisible());
  EXPECT_EQ(field->hotkey(), kCtrlAltK);

  // CLEAR drops combination and text at once.
  record(QStringLiteral("ctrl+alt+m"));
  ASSERT_TRUE(field->conflictLabel()->isVisible());
  click(field->clearButton());
  EXPECT_FALSE(field->hotkey());
  EXPECT_FALSE(field->conflictLabel()->isVisible());
  EXPECT_TRUE(field->noHotkeyLabel()->isVisible());
  EXPECT_FALSE(field->clearButton()->isVisible());
  EXPECT_EQ(storedMode(own.id)->hotkey, kCtrlAltK) << "nothing stored before SAVE";
}

TEST_F(ModesPage, CancelAfterAHotkeyChangeStoresAndRegistersNothing) {
  const Mode own = makeMode("Own", Transformation::raw(), kCtrlAltK);
  store.add(own);
  openWindow();
  const QString before = storedModesText();
  page()->openModeEditor(*storedMode(own.id));
  settle(30);
  record(QStringLiteral("ctrl+alt+e"));
  ASSERT_EQ(editor()->hotkeyField()->hotkey(), kCtrlAltE);
  click(editor()->cancelButton());
  ASSERT_TRUE(waitUntil([&] { return editor() == nullptr; }));
  EXPECT_EQ(storedModesText(), before);
  EXPECT_EQ(storedMode(own.id)->hotkey, kCtrlAltK);

  // The old combination still fires, the new one does not.
  keys(QStringLiteral("ctrl+alt+e"));
  keys(QStringLiteral("ctrl+alt+k"));
  ASSERT_TRUE(waitUntil([&] { return !sessions.isEmpty(); }));
  settle(100);
  ASSERT_EQ(sessions.size(), 1);
  EXPECT_EQ(sessions.first(), HotKeyService::Session::dictation(own.id));
}

// The editor goes with its page (another tab) or with the window: a capture
// running then ends and the old hotkeys fire again.
TEST_F(ModesPage, AnEditorDroppedMidCaptureLeavesTheServiceRunning) {
  const Mode own = makeMode("Own", Transformation::raw(), kCtrlAltK);
  store.add(own);
  openWindow();
  page()->openModeEditor(*storedMode(own.id));
  settle(30);
  click(editor()->hotkeyField()->recordButton());
  ASSERT_TRUE(waitUntil([&] { return hotKeys.isPaused(); }));
  window->show(SettingsTab::dashboard);
  EXPECT_FALSE(hotKeys.isPaused());
  keys(QStringLiteral("ctrl+alt+k"));
  ASSERT_TRUE(waitUntil([&] { return sessions.size() == 1; }));
  hotKeys.resetSession();
  window.reset();

  // The application's own window, closed while the editor listens.
  platform::SoundServer sound;
  MurelApp::Services services;
  services.isReadyAtLaunch = [] { return true; };
  services.bootstrap = [] {};
  services.startHotKeys = [] {};
  services.microphone = &sound.microphone();
  services.audioDevices = &sound.devices();
  services.settingsContent = settingsWindowContent(pages);
  MurelApp app(std::move(services));
  app.launch();
  app.settingsNavigator().setSelectedTab(SettingsTab::modes);
  app.openSettings();
  QWidget* settings = app.settingsWindow();
  ASSERT_TRUE(waitUntil([&] { return settings->isVisible() && settings->isActiveWindow(); }));
  settle(300);
  auto* view = settings->findChild<SettingsView*>();
  ASSERT_NE(view, nullptr);
  auto* modes = qobject_cast<ModesSettingsView*>(view->currentPage());
  ASSERT_NE(modes, nullptr);
  modes->openModeEditor(*storedMode(own.id));
  settle(50);
  ASSERT_TRUE(clickCentre(modes->editor()->hotkeyField()->recordButton()));
  ASSERT_TRUE(waitUntil([&] { return hotKeys.isPaused(); }));
  settings->close();
  ASSERT_TRUE(waitUntil([&] { return !hotKeys.isPaused(); }));
  ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")}));
  ASSERT_TRUE(waitUntil([&] { return sessions.size() >= 2; }));
}
