// The snippets tab in a real settings window, driven with the real pointer
// and keyboard: adding, editing and deleting snippets (the stored list checked
// after every step), the duplicate-trigger message shared by both forms, and
// triggers and expansions that are refused.
#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "settings/SnippetSettingsView.h"
#include "support/ListPageFixture.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"
#include "text/SnippetStore.h"

#include <gtest/gtest.h>

using namespace murel;

namespace {

TEST(SnippetPreview, OneSpacePerLineBreak) {
  const std::pair<const char*, const char*> cases[] = {
      {"a\r\nb", "a b"},  {"a\nb", "a b"},       {"a\rb", "a b"},    {"a\r\n\r\nb", "a  b"},
      {"a\n\rb", "a  b"}, {"\r\nlead", " lead"}, {"plain", "plain"}, {"a\r\r\nb", "a  b"},
  };
  for (const auto& [expansion, preview] : cases)
    EXPECT_EQ(snippetPreviewText(QString::fromLatin1(expansion)), QString::fromLatin1(preview)) << expansion;
}

class SnippetsPage : public test::ListPageFixture<SnippetStore, SnippetSettingsView, SnippetEntry,
                                                  &SnippetEntry::trigger, &SnippetEntry::expansion> {
 protected:
  SnippetsPage() : ListPageFixture(SettingsTab::snippets, QStringLiteral("snippets_page")) {}

  SnippetSettingsView* makePage(QWidget* parent) override {
    return new SnippetSettingsView(*store_, Clock::continuous(), std::nullopt, parent);
  }

  static SnippetEntry snippet(const QString& trigger, const QString& expansion) { return entry(trigger, expansion); }

  void addSnippet(const QString& trigger, const QString& expansion) {
    if (!page_->isAddingNew()) click(page_->addButton());
    pasteInto(page_->addForm()->triggerField(), trigger);
    pasteInto(page_->addForm()->expansionField(), expansion);
    click(page_->addForm()->buttons()->confirmButton());
  }
};

}  // namespace

TEST_F(SnippetsPage, EmptyThenAddedFirstWithTheExpansionAsTyped) {
  open();
  const QStringList texts = test::visibleTexts(page_);
  for (const char* text : {"Snippets", "STORED SNIPPETS", "ADD",
                           "say only the trigger and Murel delivers the full text. it never expands mid-sentence.",
                           "No snippets yet", "add one to start."})
    EXPECT_TRUE(texts.contains(QString::fromLatin1(text))) << text;
  screenshots(QStringLiteral("snippets-empty"));

  click(page_->addButton());
  EXPECT_TRUE(page_->addForm()->isVisible());
  EXPECT_FALSE(page_->emptyRow()->isVisible());
  EXPECT_FALSE(page_->addButton()->isEnabled());
  EXPECT_EQ(page_->addButton()->tint(), DSColor::inkSecondary);
  click(page_->addForm()->buttons()->cancelButton());
  EXPECT_TRUE(page_->emptyRow()->isVisible());
  EXPECT_TRUE(page_->addButton()->isEnabled());

  click(page_->addButton());
  ASSERT_TRUE(test::waitUntil([this] { return page_->addForm()->triggerField()->isFocused(); }));
  ASSERT_TRUE(test::xdotool(
      {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), QStringLiteral(" sig ")}));
  typeInto(page_->addForm()->expansionField(), QStringLiteral("Best,"));
  ASSERT_TRUE(test::xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
  ASSERT_TRUE(
      test::xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), QStringLiteral("Ann")}));
  test::settle(80);
  click(page_->addForm()->buttons()->confirmButton());
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"sig", "Best,\nAnn"}}));
  EXPECT_FALSE(page_->isAddingNew());
  expectStoredIsPageList();

  addSnippet(QStringLiteral("\taddr\u00a0"), QStringLiteral("\n  1 Main St\n\n"));
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"addr", "\n  1 Main St\n\n"}, {"sig", "Best,\nAnn"}}));
  EXPECT_EQ(pairsOf(SnippetStore(*defaults_).entries()).first().first, QStringLiteral("addr"));
  expectStoredIsPageList();
  EXPECT_EQ(page_->rows()[0]->shownPreview(), QStringLiteral("   1 Main St  "));
  screenshots(QStringLiteral("snippets-filled"));
}

// A snippet's whole row, its side insets too, is its hover area; the edit
// and delete buttons fade in and out with it.
TEST_F(SnippetsPage, HoverTakesTheWholeRowAndFadesTheButtons) {
  const QList<SnippetEntry> start = {snippet(QStringLiteral("sig"), QStringLiteral("Best,\nAnn")),
                                     snippet(QStringLiteral("addr"), QStringLiteral("1 Main St"))};
  open(start);
  const QUuid id = start[1].id;
  const int width = page_->row(id)->width();
  for (const int x : {2, 8, width / 2, width - 8, width - 2}) EXPECT_TRUE(hoveredAt(id, x)) << x;
  expectButtonsFadeWithHover(id);
}

TEST_F(SnippetsPage, RefusesBlankAndPunctuationOnlyTriggersAndBlankExpansions) {
  open({snippet(QStringLiteral("hi"), QStringLiteral("hello"))});
  struct Case {
    QString trigger, expansion;
  };
  const Case refused[] = {
      {QStringLiteral(" \t "), QStringLiteral("text")},        {QStringLiteral("."), QStringLiteral("text")},
      {QStringLiteral("?!"), QStringLiteral("text")},          {QStringLiteral("ok"), QStringLiteral("  \n \r\n\t ")},
      {QStringLiteral("ok"), QStringLiteral("\u2028 \u00a0")},
  };
  for (const Case& c : refused) {
    addSnippet(c.trigger, c.expansion);
    EXPECT_EQ(page_->entries().size(), 1) << c.trigger.toStdString();
    EXPECT_TRUE(page_->isAddingNew());
    EXPECT_FALSE(page_->duplicateError());
    EXPECT_EQ(page_->addForm()->triggerField()->text(), c.trigger);
  }
  click(page_->addForm()->buttons()->cancelButton());
  // Punctuation-only triggers are refused when editing as well.
  clickRowButton(page_->entries()[0].id, true);
  pasteInto(page_->editForm()->triggerField(), QStringLiteral("..."));
  click(page_->editForm()->buttons()->confirmButton());
  EXPECT_NE(page_->editForm(), nullptr);
  EXPECT_EQ(page_->entries()[0].trigger, QStringLiteral("hi"));
  expectStoredIsPageList();
}

TEST_F(SnippetsPage, DuplicateTriggersShowOneMessageInBothForms) {
  const QList<SnippetEntry> start = {snippet(QStringLiteral("sign off"), QStringLiteral("Cheers")),
                                     snippet(QStringLiteral("addr"), QStringLiteral("1 Main St"))};
  open(start);
  click(page_->addButton());
  typeInto(page_->addForm()->triggerField(), QStringLiteral("Sign off."));
  pasteInto(page_->addForm()->expansionField(), QStringLiteral("Bye"));
  clickRowButton(start[1].id, true);
  ASSERT_NE(page_->editForm(), nullptr);
  click(page_->addForm()->buttons()->confirmButton());
  EXPECT_TRUE(page_->duplicateError());
  EXPECT_TRUE(page_->addForm()->isMessageShown());
  EXPECT_TRUE(page_->editForm()->isMessageShown());
  EXPECT_EQ(page_->addForm()->message()->text(), QStringLiteral("a snippet with this trigger already exists."));
  EXPECT_EQ(page_->entries().size(), 2);
  screenshots(QStringLiteral("snippets-duplicate"));

  // Typing in the other form's trigger hides it in both.
  typeInto(page_->editForm()->triggerField(), QStringLiteral("x"));
  EXPECT_FALSE(page_->duplicateError());
  EXPECT_FALSE(page_->addForm()->isMessageShown());
  EXPECT_FALSE(page_->editForm()->isMessageShown());
  // The expansion does not.
  click(page_->addForm()->buttons()->confirmButton());
  EXPECT_TRUE(page_->editForm()->isMessageShown());
  typeInto(page_->addForm()->expansionField(), QStringLiteral("!"));
  EXPECT_TRUE(page_->duplicateError());
  typeInto(page_->addForm()->triggerField(), QStringLiteral("!"));
  EXPECT_FALSE(page_->duplicateError());

  // The edited snippet's own trigger, in other case and with a full stop, is its own.
  pasteInto(page_->editForm()->triggerField(), QStringLiteral("ADDR."));
  click(page_->editForm()->buttons()->confirmButton());
  EXPECT_EQ(page_->editForm(), nullptr);
  EXPECT_EQ(page_->entries()[1].trigger, QStringLiteral("ADDR."));
  EXPECT_EQ(page_->entries()[1].id, start[1].id);
  EXPECT_EQ(page_->row(start[1].id)->entry().trigger, QStringLiteral("ADDR."));
  expectStoredIsPageList();

  // Editing into another snippet's trigger is refused.
  clickRowButton(start[1].id, true);
  pasteInto(page_->editForm()->triggerField(), QStringLiteral("  sign OFF!"));
  click(page_->editForm()->buttons()->confirmButton());
  EXPECT_TRUE(page_->editForm()->isMessageShown());
  click(page_->editForm()->buttons()->cancelButton());
  EXPECT_FALSE(page_->duplicateError());
  EXPECT_EQ(page_->entries()[1].trigger, QStringLiteral("ADDR."));
  expectStoredIsPageList();
}

TEST_F(SnippetsPage, EditsKeepPlaceAndDeletingTheLastShowsTheEmptyState) {
  // Stored by an earlier version or another tool: carriage returns the editor would not make.
  const QList<SnippetEntry> start = {snippet(QStringLiteral("a"), QStringLiteral("one\r\ntwo\nthree\rfour")),
                                     snippet(QStringLiteral("b"), QStringLiteral("B"))};
  open(start);
  EXPECT_EQ(page_->row(start[0].id)->shownPreview(), QStringLiteral("one two three four"));
  clickRowButton(start[1].id, true);
  EXPECT_EQ(page_->editForm()->expansionField()->text(), QStringLiteral("B"));
  pasteInto(page_->editForm()->expansionField(), QStringLiteral("\nB2  "));
  click(page_->editForm()->buttons()->confirmButton());
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"a", "one\r\ntwo\nthree\rfour"}, {"b", "\nB2  "}}));
  EXPECT_EQ(idsOf(page_->entries()), idsOf(start));
  expectStoredIsPageList();

  for (const SnippetEntry& e : start) clickRowButton(e.id, false);
  EXPECT_TRUE(page_->entries().isEmpty());
  EXPECT_TRUE(page_->emptyRow()->isVisible());
  expectStoredIsPageList();
}

// Snippets leave the list as the page's changes name (see the fixture).
TEST_F(SnippetsPage, ListChangesLeaveWithTheirAnimations) {
  const QList<SnippetEntry> start = {snippet(QStringLiteral("one"), QStringLiteral("1")),
                                     snippet(QStringLiteral("two"), QStringLiteral("2")),
                                     snippet(QStringLiteral("three"), QStringLiteral("3"))};
  open(start);
  expectExitAnimations(
      start, {[this](const SnippetEntry& e) { page_->deleteSnippet(e); },
              [this](const SnippetEntry& e) { page_->beginSnippetEdit(e); },
              [this](const SnippetEntry& e) { page_->commitSnippetEdit(e); }, [this] { page_->cancelSnippetEdit(); }});
}
