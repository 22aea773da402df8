#pragma once
// The fixture of the pages that edit a list in place (dictionary, snippets):
// the page in a real settings window over a store in fresh defaults, the
// stored list compared with the page's after a step, and the steps a user
// takes with the real pointer and keyboard.

#include "design/Motion.h"
#include "design/SettingsComponents.h"
#include "platform/x11/X11Lifeline.h"
#include "runtime/Clock.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/EditableList.h"
#include "support/PasteTarget.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVariantAnimation>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace murel::test {

// `Entry` has an `id` and the two texts `First` and `Second`; `Page` is built
// by the test's makePage() and offers entries(), row(id) and
// hoveredEntryID().
template <typename Store, typename Page, typename Entry, QString Entry::*First, QString Entry::*Second>
class ListPageFixture : public ::testing::Test {
 protected:
  using Pairs = QList<std::pair<QString, QString>>;

  ListPageFixture(SettingsTab tab, QString name) : tab_(tab), name_(std::move(name)) {}

  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }

  void SetUp() override {
    if (!x11::canOpenDisplay()) GTEST_SKIP() << "needs the rig's X server";
    defaults_ = std::make_unique<UserDefaults>(freshDir(name_) + QStringLiteral("/d.json"));
    store_ = std::make_unique<Store>(*defaults_);
  }

  void open(const QList<Entry>& stored = {}) {
    if (!stored.isEmpty()) store_->setEntries(stored);
    pages_.set(tab_, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* { return makePage(parent); });
    rig_ = std::make_unique<SettingsWindowRig>(tab_, pages_);
    page_ = qobject_cast<Page*>(rig_->view().currentPage());
    ASSERT_NE(page_, nullptr);
  }

  // The page as the window builds it, over store_.
  virtual Page* makePage(QWidget* parent) = 0;

  static Entry entry(const QString& first, const QString& second) {
    Entry made;
    made.id = QUuid::createUuid();
    made.*First = first;
    made.*Second = second;
    return made;
  }

  static Pairs pairsOf(const QList<Entry>& entries) {
    Pairs out;
    for (const Entry& e : entries) out.append({e.*First, e.*Second});
    return out;
  }

  static QList<QUuid> idsOf(const QList<Entry>& entries) {
    QList<QUuid> out;
    for (const Entry& e : entries) out.append(e.id);
    return out;
  }

  static std::string show(const Pairs& pairs) {
    std::string out;
    for (const auto& [first, second] : pairs) out += "(" + first.toStdString() + " | " + second.toStdString() + ") ";
    return out;
  }

  // What a fresh store reads from the defaults: what the next dictation uses.
  QList<Entry> stored() const { return Store(*defaults_).entries(); }

  void expectStoredIsPageList() const {
    const QList<Entry> saved = stored();
    EXPECT_EQ(pairsOf(saved), pairsOf(page_->entries())) << show(pairsOf(saved));
    EXPECT_EQ(idsOf(saved), idsOf(page_->entries()));
  }

  static void typeInto(SettingsInlineField* field, const QString& text) {
    ASSERT_TRUE(clickCentre(field));
    ASSERT_TRUE(field->isFocused());
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), text}));
    settle(80);
  }

  // Replaces a field's text as a paste would: the keyboard cannot type a
  // tab, a line separator or a carriage return into these fields.
  static void pasteInto(SettingsInlineField* field, const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(field->editor())) {
      line->selectAll();
      line->insert(text);
    } else {
      auto* lines = qobject_cast<QPlainTextEdit*>(field->editor());
      ASSERT_NE(lines, nullptr);
      lines->selectAll();
      lines->insertPlainText(text);
    }
    settle(20);
  }

  static void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    ASSERT_TRUE(clickCentre(widget));
    settle(100);
  }

  // Moves the pointer onto a point of the entry's row, coming from outside
  // the list so that the row sees it come in even when the row has just
  // moved in under a pointer that stood still.
  void hoverRow(const QUuid& id, std::optional<QPoint> at = std::nullopt) {
    EditableListRow* row = page_->row(id);
    ASSERT_NE(row, nullptr);
    leaveRows();
    ASSERT_TRUE(hoverAt(row, at.value_or(row->rect().center())));
    settle(80);
  }

  void leaveRows() {
    ASSERT_TRUE(hoverAt(page_, QPoint(4, 4)));
    settle(30);
  }

  // Hovers the entry's row so its buttons show, then clicks one.
  void clickRowButton(const QUuid& id, bool edit) {
    hoverRow(id);
    ASSERT_EQ(page_->hoveredEntryID(), id);
    EditableListRow* row = page_->row(id);
    SettingsActionButton* button = edit ? row->editButton() : row->deleteButton();
    ASSERT_TRUE(button->isShown());
    click(button);
  }

  // Whether the entry's row counts as hovered with the pointer at `x` (from
  // the row's left edge) on its middle line, coming from outside the list.
  bool hoveredAt(const QUuid& id, int x) {
    EditableListRow* row = page_->row(id);
    hoverRow(id, QPoint(x, row->height() / 2));
    return page_->hoveredEntryID() == id && row->isHovered();
  }

  // Hovering the entry's row fades its buttons in, and leaving it fades them
  // out: neither shows nor goes at once.
  void expectButtonsFadeWithHover(const QUuid& id) {
    leaveRows();
    EditableListRow* row = page_->row(id);
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(hoverAt(row, row->rect().center()));
    ASSERT_TRUE(waitUntil([&] { return page_->hoveredEntryID() == id; }));
    SettingsActionButton* buttons[] = {row->editButton(), row->deleteButton()};
    for (SettingsActionButton* button : buttons) {
      EXPECT_TRUE(button->isShown());
      EXPECT_LT(button->revealProgress(), 1.0) << "shown at once";
    }
    EXPECT_TRUE(waitUntil([&] { return buttons[0]->revealProgress() == 1 && buttons[1]->revealProgress() == 1; }));

    ASSERT_TRUE(hoverAt(page_, QPoint(4, 4)));
    ASSERT_TRUE(waitUntil([&] { return !page_->hoveredEntryID().has_value(); }));
    for (SettingsActionButton* button : buttons) {
      EXPECT_FALSE(button->isShown());
      EXPECT_GT(button->revealProgress(), 0.0) << "gone at once";
    }
    EXPECT_TRUE(waitUntil([&] { return buttons[0]->revealProgress() == 0 && buttons[1]->revealProgress() == 0; }));
  }

  // The page's own steps on an entry.
  struct Steps {
    std::function<void(const Entry&)> remove;
    std::function<void(const Entry&)> beginEdit;
    std::function<void(const Entry&)> commitEdit;
    std::function<void()> cancelEdit;
  };

  // With the three entries of `start` listed: a deleted entry's row folds
  // away over 0.15 s; an edit form, cancelled or saved, over 0.1 s while its
  // entry's row fades back in; deleting the entry being edited takes its form
  // along over 0.15 s. Leaves the first entry alone in the list.
  void expectExitAnimations(const QList<Entry>& start, const Steps& steps) {
    ASSERT_EQ(start.size(), 3);
    EditableListRow* second = page_->row(start[1].id);
    steps.remove(start[1]);
    EXPECT_EQ(page_->row(start[1].id), nullptr);
    expectFoldsAway(second, 150);
    expectStoredIsPageList();

    const std::pair<const char*, std::function<void()>> closes[] = {
        {"cancel", steps.cancelEdit},
        {"save", [&] { steps.commitEdit(start[0]); }},
    };
    for (const auto& [name, close] : closes) {
      SCOPED_TRACE(name);
      steps.beginEdit(start[0]);
      settle(150);
      QPointer<QWidget> form = page_->editForm();
      ASSERT_TRUE(form);
      close();
      EXPECT_EQ(page_->editForm(), nullptr);
      EditableListRow* row = page_->row(start[0].id);
      ASSERT_TRUE(row->isVisible());
      EXPECT_NE(row->graphicsEffect(), nullptr) << "back at once";
      expectAnimatedOver(row, 100);
      if (form) expectFoldsAway(form, 100);
      EXPECT_TRUE(waitUntil([&] { return row->graphicsEffect() == nullptr; }));
    }

    steps.beginEdit(start[2]);
    settle(150);
    QPointer<QWidget> form = page_->editForm();
    ASSERT_TRUE(form);
    steps.remove(start[2]);
    expectFoldsAway(form, 150);
    EXPECT_EQ(idsOf(page_->entries()), QList<QUuid>{start[0].id});
    expectStoredIsPageList();
  }

  // The exit of `leaving` (a row or a form) just started: out of the
  // pointer's reach at once, it fades and folds away, ease-out over
  // `durationMs`, and is gone once folded.
  static void expectFoldsAway(QWidget* leaving, int durationMs) {
    QPointer<QWidget> watched(leaving);
    ASSERT_TRUE(watched);
    EXPECT_TRUE(leaving->isVisible()) << "gone at once";
    EXPECT_TRUE(leaving->testAttribute(Qt::WA_TransparentForMouseEvents));
    expectAnimatedOver(leaving, durationMs);
    const int start = leaving->height();
    EXPECT_TRUE(waitUntil([&] { return !watched || (watched->height() < start && watched->graphicsEffect()); }))
        << "never folded";
    EXPECT_TRUE(waitUntil([&] { return watched.isNull(); })) << "still there after its exit";
  }

  // `arriving` fades in, ease-out over `durationMs`, and ends drawn plainly.
  static void expectFadesIn(QWidget* arriving, int durationMs) {
    ASSERT_NE(arriving, nullptr);
    EXPECT_NE(arriving->graphicsEffect(), nullptr) << "shown at once";
    expectAnimatedOver(arriving, durationMs);
    EXPECT_TRUE(waitUntil([&] { return arriving->graphicsEffect() == nullptr; }));
  }

  // One animation of `widget`'s own runs, ease-out over `durationMs`.
  static void expectAnimatedOver(QWidget* widget, int durationMs) {
    QList<QVariantAnimation*> running;
    for (QVariantAnimation* animation : widget->findChildren<QVariantAnimation*>()) {
      // Its own, or its tween's: not those of the buttons inside it.
      QObject* owner = animation->parent();
      if (owner != widget && owner->parent() != widget) continue;
      if (animation->state() == QAbstractAnimation::Running) running.append(animation);
    }
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running[0]->duration(), durationMs);
    EXPECT_EQ(running[0]->easingCurve(), Motion::easeOut());
  }

  // Light and dark pictures of the window, which shows no raw text key.
  void screenshots(const QString& name) {
    const QStringList texts = visibleTexts(&rig_->window());
    EXPECT_TRUE(rawKeysAmong(texts).isEmpty()) << rawKeysAmong(texts).join(u' ').toStdString();
    settingsScreenshot(rig_->window(), name, Appearance::Scheme::Light);
    settingsScreenshot(rig_->window(), name, Appearance::Scheme::Dark);
  }

  SettingsTab tab_;
  QString name_;
  std::unique_ptr<UserDefaults> defaults_;
  std::unique_ptr<Store> store_;
  SettingsPages pages_;
  std::unique_ptr<SettingsWindowRig> rig_;
  Page* page_ = nullptr;
};

}  // namespace murel::test
