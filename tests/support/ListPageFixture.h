#pragma once
// The fixture of the pages that edit a list in place (dictionary, snippets):
// the page in a real settings window over a store in fresh defaults, the
// stored list compared with the page's after a step, and the steps a user
// takes with the real pointer and keyboard.

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

#include <gtest/gtest.h>

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
