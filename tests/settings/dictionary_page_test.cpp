// The dictionary tab in a real settings window, driven with the real pointer
// and keyboard: adding, editing and deleting rules (the stored list checked
// after every step), the rules a dictionary file cannot carry, and importing
// and exporting real files through scripted panels.
#include "app/FilePanels.h"
#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "platform/dbus/FileManagerWorkspace.h"
#include "runtime/DiagLog.h"
#include "settings/DictionarySettingsView.h"
#include "support/Alerts.h"
#include "support/FakeFileManager.h"
#include "support/ListPageFixture.h"
#include "support/ScriptedFilePanels.h"
#include "support/TestEnv.h"
#include "text/DictionaryFile.h"

#include <QDBusConnection>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace murel;

namespace {

QString writeFile(const QString& name, const QByteArray& bytes) {
  const QString path = test::freshDir(QStringLiteral("dictionary_files")) + QLatin1Char('/') + name;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return QString();
  return path;
}

class DictionaryPage : public test::ListPageFixture<DictionaryStore, DictionarySettingsView, DictionaryEntry,
                                                    &DictionaryEntry::original, &DictionaryEntry::replacement> {
 protected:
  DictionaryPage() : ListPageFixture(SettingsTab::dictionary, QStringLiteral("dictionary_page")) {}

  void TearDown() override { rig_.reset(); }

  DictionarySettingsView* makePage(QWidget* parent) override {
    return new DictionarySettingsView(*store_, panels_, workspace_, Clock::continuous(), std::nullopt, parent);
  }

  static DictionaryEntry rule(const QString& original, const QString& replacement) {
    return entry(original, replacement);
  }

  static void confirm(DictionaryRuleForm* form) {
    ASSERT_NE(form, nullptr);
    click(form->buttons()->confirmButton());
  }

  static void cancel(DictionaryRuleForm* form) {
    ASSERT_NE(form, nullptr);
    click(form->buttons()->cancelButton());
  }

  void addRule(const QString& original, const QString& replacement) {
    if (!page_->isAddingNew()) click(page_->addButton());
    pasteInto(page_->addForm()->originalField(), original);
    pasteInto(page_->addForm()->replacementField(), replacement);
    confirm(page_->addForm());
  }

  QMessageBox* dialog() {
    test::waitUntil([this] { return page_->dialog() && page_->dialog()->isVisible(); }, std::chrono::seconds(3));
    return page_->dialog();
  }

  void answer(const QString& buttonText) {
    QMessageBox* box = dialog();
    ASSERT_NE(box, nullptr);
    QAbstractButton* chosen = nullptr;
    for (QAbstractButton* button : box->buttons())
      if (button->text().remove(QLatin1Char('&')) == buttonText) chosen = button;
    ASSERT_NE(chosen, nullptr) << buttonText.toStdString();
    ASSERT_TRUE(test::clickCentre(chosen));
    test::settle(150);
  }

  void importFile(const QString& path) {
    panels_.answer = path;
    click(page_->importButton());
  }

  test::ScriptedPanels panels_;
  // The file manager on the session bus, as the application has it.
  FileManagerWorkspace workspace_;
};

}  // namespace

TEST_F(DictionaryPage, EmptyPageThenAddingTrimmedRulesFirst) {
  open();
  QStringList texts = test::visibleTexts(page_);
  for (const char* text : {"Dictionary", "REPLACEMENT RULES", "IMPORT", "EXPORT", "ADD",
                           "define words that are frequently mistranscribed. the original gets silently replaced.",
                           "No rules yet", "add a correction to start."})
    EXPECT_TRUE(texts.contains(QString::fromLatin1(text))) << text;
  EXPECT_FALSE(page_->exportButton()->isEnabled());
  EXPECT_TRUE(page_->importButton()->isEnabled());
  EXPECT_TRUE(page_->addButton()->isEnabled());
  screenshots(QStringLiteral("dictionary-empty"));

  click(page_->addButton());
  EXPECT_TRUE(page_->addForm()->isVisible());
  EXPECT_FALSE(page_->emptyRow()->isVisible());
  EXPECT_FALSE(page_->addButton()->isEnabled());
  EXPECT_EQ(page_->addButton()->tint(), DSColor::inkSecondary);
  // The original field takes the keyboard by itself: type straight away.
  ASSERT_TRUE(test::waitUntil([this] { return page_->addForm()->originalField()->isFocused(); }));
  ASSERT_TRUE(test::xdotool(
      {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), QStringLiteral("  teh ")}));
  test::settle(80);
  pasteInto(page_->addForm()->replacementField(), QStringLiteral("\t\u00a0the\u2003\t"));
  // A disabled ADD ignores the click.
  click(page_->addButton());
  EXPECT_TRUE(page_->isAddingNew());
  confirm(page_->addForm());
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"teh", "the"}}));
  EXPECT_FALSE(page_->isAddingNew());
  EXPECT_TRUE(page_->addButton()->isEnabled());
  EXPECT_EQ(page_->addButton()->tint(), DSColor::accent);
  EXPECT_TRUE(page_->exportButton()->isEnabled());
  expectStoredIsPageList();

  // A blank side is refused silently; the form keeps its texts.
  click(page_->addButton());
  EXPECT_EQ(page_->addForm()->originalField()->text(), QString());  // emptied by the commit
  typeInto(page_->addForm()->originalField(), QStringLiteral("gonna"));
  typeInto(page_->addForm()->replacementField(), QStringLiteral("   "));
  confirm(page_->addForm());
  EXPECT_TRUE(page_->addForm()->isVisible());
  EXPECT_FALSE(page_->addForm()->isMessageShown());
  EXPECT_EQ(page_->addForm()->originalField()->text(), QStringLiteral("gonna"));
  EXPECT_EQ(page_->entries().size(), 1);
  pasteInto(page_->addForm()->replacementField(), QStringLiteral("going to"));
  confirm(page_->addForm());
  // The same original again is accepted, first.
  addRule(QStringLiteral("teh"), QStringLiteral("tea"));
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"teh", "tea"}, {"gonna", "going to"}, {"teh", "the"}}));
  expectStoredIsPageList();
  EXPECT_EQ(page_->rows().size(), 3);
  EXPECT_EQ(page_->rows()[0]->entry().replacement, QStringLiteral("tea"));
  screenshots(QStringLiteral("dictionary-filled"));

  // Cancelling empties the add form.
  click(page_->addButton());
  typeInto(page_->addForm()->originalField(), QStringLiteral("half"));
  cancel(page_->addForm());
  EXPECT_FALSE(page_->addForm()->isVisible());
  click(page_->addButton());
  EXPECT_EQ(page_->addForm()->originalField()->text(), QString());
  expectStoredIsPageList();
}

TEST_F(DictionaryPage, EditsInPlaceBesideTheAddFormAndDeletes) {
  const QList<DictionaryEntry> start = {rule(QStringLiteral("one"), QStringLiteral("1")),
                                        rule(QStringLiteral("two"), QStringLiteral("2")),
                                        rule(QStringLiteral("three"), QStringLiteral("3"))};
  open(start);
  click(page_->addButton());
  typeInto(page_->addForm()->originalField(), QStringLiteral("new"));

  clickRowButton(start[1].id, true);
  EXPECT_EQ(page_->editingEntryID(), start[1].id);
  ASSERT_NE(page_->editForm(), nullptr);
  EXPECT_TRUE(page_->addForm()->isVisible());
  EXPECT_EQ(page_->editForm()->originalField()->text(), QStringLiteral("two"));
  screenshots(QStringLiteral("dictionary-both-forms"));

  pasteInto(page_->editForm()->originalField(), QStringLiteral(" deux\t"));
  pasteInto(page_->editForm()->replacementField(), QStringLiteral("2\u00a0"));
  confirm(page_->editForm());
  EXPECT_EQ(page_->editForm(), nullptr);
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"one", "1"}, {"deux", "2"}, {"three", "3"}}));
  EXPECT_EQ(idsOf(page_->entries()), idsOf(start));
  EXPECT_TRUE(page_->isAddingNew());
  EXPECT_EQ(page_->addForm()->originalField()->text(), QStringLiteral("new"));
  expectStoredIsPageList();

  // A cancelled edit keeps nothing, and the next edit starts from the rule.
  clickRowButton(start[2].id, true);
  typeInto(page_->editForm()->replacementField(), QStringLiteral("x"));
  cancel(page_->editForm());
  EXPECT_FALSE(page_->editingEntryID().has_value());
  EXPECT_EQ(pairsOf(page_->entries())[2], (std::pair<QString, QString>{"three", "3"}));
  clickRowButton(start[2].id, true);
  EXPECT_EQ(page_->editForm()->replacementField()->text(), QStringLiteral("3"));
  // A blank edit is refused, the form stays.
  pasteInto(page_->editForm()->originalField(), QStringLiteral(" \t "));
  confirm(page_->editForm());
  EXPECT_NE(page_->editForm(), nullptr);
  cancel(page_->editForm());
  expectStoredIsPageList();

  cancel(page_->addForm());
  for (const DictionaryEntry& e : start) clickRowButton(e.id, false);
  EXPECT_TRUE(page_->entries().isEmpty());
  EXPECT_TRUE(page_->emptyRow()->isVisible());
  EXPECT_FALSE(page_->exportButton()->isEnabled());
  expectStoredIsPageList();
}

// A rule's hover area is its row between the 20 px side insets; the edit
// and delete buttons fade in and out with it.
TEST_F(DictionaryPage, HoverLeavesOutTheSideInsetsAndFadesTheButtons) {
  const QList<DictionaryEntry> start = {rule(QStringLiteral("teh"), QStringLiteral("the")),
                                        rule(QStringLiteral("adn"), QStringLiteral("and"))};
  open(start);
  const QUuid id = start[0].id;
  const int width = page_->row(id)->width();
  struct Case {
    const char* where;
    int x;
    bool hovered;
  };
  const Case cases[] = {
      {"left inset", 8, false},          {"just inside the left inset", 26, true},
      {"middle", width / 2, true},       {"by the buttons", width - 26, true},
      {"right inset", width - 8, false},
  };
  for (const Case& c : cases) EXPECT_EQ(hoveredAt(id, c.x), c.hovered) << c.where;

  // Moving within the row out into an inset ends the hover, and back in starts it.
  ASSERT_TRUE(hoveredAt(id, width / 2));
  DictionaryRuleRow* row = page_->row(id);
  ASSERT_TRUE(test::hoverAt(row, QPoint(8, row->height() / 2)));
  test::settle(80);
  EXPECT_FALSE(page_->hoveredEntryID().has_value());
  EXPECT_FALSE(row->editButton()->isShown());
  ASSERT_TRUE(test::hoverAt(row, QPoint(40, row->height() / 2)));
  test::settle(80);
  EXPECT_EQ(page_->hoveredEntryID(), id);

  expectButtonsFadeWithHover(id);
}

TEST_F(DictionaryPage, RefusesRulesAFileCannotCarryAndKeepsTheOthersThroughARealFile) {
  open();
  struct Case {
    QString original, replacement;
    bool accepted;
  };
  const Case cases[] = {
      {QStringLiteral("a->b"), QStringLiteral("c"), false},
      {QStringLiteral("#tag"), QStringLiteral("x"), false},
      {QStringLiteral("line\u2028break"), QStringLiteral("x"), false},
      {QStringLiteral("x"), QStringLiteral("para\u2029graph"), false},
      {QStringLiteral("a\u2192b"), QStringLiteral("c"), true},
      {QStringLiteral("arrow"), QStringLiteral("x->y"), true},
  };
  for (const Case& c : cases) {
    const qsizetype before = page_->entries().size();
    addRule(c.original, c.replacement);
    EXPECT_EQ(page_->entries().size(), before + (c.accepted ? 1 : 0)) << c.original.toStdString();
    if (c.accepted) continue;
    EXPECT_TRUE(page_->addForm()->isVisible());
    EXPECT_TRUE(page_->addForm()->isMessageShown()) << c.original.toStdString();
    EXPECT_EQ(page_->addForm()->message()->text(),
              QStringLiteral("no line breaks, and no -> or leading # in the original."));
    EXPECT_EQ(page_->addForm()->message()->style().color, DSColor::danger);
    if (&c == &cases[0]) screenshots(QStringLiteral("dictionary-unsupported"));
    // Typing clears the reason.
    typeInto(page_->addForm()->originalField(), QStringLiteral("z"));
    EXPECT_FALSE(page_->addForm()->isMessageShown());
    cancel(page_->addForm());
  }
  expectStoredIsPageList();

  // Edits are held to the same rule.
  const QUuid first = page_->entries()[0].id;
  clickRowButton(first, true);
  pasteInto(page_->editForm()->originalField(), QStringLiteral("#x"));
  confirm(page_->editForm());
  EXPECT_TRUE(page_->editForm()->isMessageShown());
  EXPECT_EQ(page_->entries()[0].original, QStringLiteral("arrow"));
  cancel(page_->editForm());

  const QString path = test::freshDir(QStringLiteral("round_trip")) + QStringLiteral("/rules.txt");
  panels_.answer = path;
  click(page_->exportButton());
  const Pairs exported = pairsOf(page_->entries());
  clickRowButton(page_->entries()[0].id, false);
  clickRowButton(page_->entries()[0].id, false);
  importFile(path);
  EXPECT_EQ(pairsOf(page_->entries()), exported);
  expectStoredIsPageList();
}

TEST_F(DictionaryPage, ImportRefusesFilesWithoutRulesAndUnreadableFiles) {
  const QList<DictionaryEntry> start = {rule(QStringLiteral("keep"), QStringLiteral("me"))};
  open(start);
  struct Case {
    const char* name;
    QByteArray bytes;
    const char* title;
  };
  const Case cases[] = {
      {"empty.txt", QByteArray(), "No rules found"},
      {"comments.txt", "# only a comment\n\n   # another -> one\nno separator here\n", "No rules found"},
      {"latin1.txt", "caf\xe9 -> coffee\n", "Can't read this file"},
      {"truncated.txt", "ok -> fine\n\xe2\x82", "Can't read this file"},
      {"huge.txt", QByteArray("big -> file\n").repeated(11'000'000 / 12), "Can't read this file"},
  };
  for (const Case& c : cases) {
    const QString path = writeFile(QString::fromLatin1(c.name), c.bytes);
    ASSERT_FALSE(path.isEmpty());
    importFile(path);
    QMessageBox* box = dialog();
    ASSERT_NE(box, nullptr) << c.name;
    EXPECT_EQ(box->text(), QString::fromUtf8(c.title)) << c.name;
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    if (&c == &cases[0]) screenshots(QStringLiteral("dictionary-no-rules-alert"));
    if (&c == &cases[2]) screenshots(QStringLiteral("dictionary-unreadable-alert"));
    answer(QStringLiteral("OK"));
    EXPECT_EQ(page_->dialog(), nullptr);
    EXPECT_EQ(pairsOf(page_->entries()), pairsOf(start)) << c.name;
    EXPECT_EQ(idsOf(stored()), idsOf(start));
  }
  EXPECT_EQ(DictionaryFile::parse(QStringLiteral("# only a comment\n")).size(), 0);

  // A cancelled panel changes nothing and shows nothing.
  panels_.answer.reset();
  click(page_->importButton());
  EXPECT_EQ(page_->dialog(), nullptr);
  EXPECT_EQ(pairsOf(page_->entries()), pairsOf(start));
}

TEST(DictionaryImportFile, ReadsStrictUtf8UpToTheCap) {
  const QString ok = writeFile(QStringLiteral("ok.txt"),
                               "\xef\xbb\xbf"
                               "caf\xc3\xa9 -> x\n");
  EXPECT_EQ(readDictionaryText(ok, 100), std::optional<QString>(QStringLiteral("caf\u00e9 -> x\n")));
  EXPECT_EQ(readDictionaryText(ok, 10), std::nullopt);
  EXPECT_EQ(readDictionaryText(ok + QStringLiteral(".missing"), 100), std::nullopt);
  EXPECT_EQ(readDictionaryText(writeFile(QStringLiteral("bad.txt"), "a -> \xff\n"), 100), std::nullopt);
  EXPECT_EQ(readDictionaryText(writeFile(QStringLiteral("surrogate.txt"), "a -> \xed\xa0\x80\n"), 100), std::nullopt);
}

TEST_F(DictionaryPage, ImportMergesAndAsksBeforeOverriding) {
  // Into an empty dictionary: no question; case variants become one rule at the first place.
  open();
  importFile(writeFile(QStringLiteral("first.txt"), "Foo -> x\nbar -> b\nfoo -> y\n"));
  EXPECT_EQ(page_->dialog(), nullptr);
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"foo", "y"}, {"bar", "b"}}));
  expectStoredIsPageList();

  // One override and two new rules.
  const QList<QUuid> before = idsOf(page_->entries());
  const QString mixed = writeFile(QStringLiteral("mixed.txt"), "new1 -> n1\nBAR -> B!\nnew2 -> n2\n");
  importFile(mixed);
  QMessageBox* box = dialog();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QStringLiteral("Override 1 existing rules?"));
  EXPECT_EQ(box->informativeText(),
            QStringLiteral("it has rules for words you already have. their replacements will be overridden."));
  QStringList buttons;
  for (QAbstractButton* b : box->buttons()) buttons.append(b->text());
  EXPECT_TRUE(buttons.contains(QStringLiteral("Import")));
  EXPECT_TRUE(buttons.contains(QStringLiteral("Cancel")));
  EXPECT_TRUE(page_->pendingImport().has_value());
  screenshots(QStringLiteral("dictionary-override"));
  answer(QStringLiteral("Cancel"));
  EXPECT_FALSE(page_->pendingImport().has_value());
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"foo", "y"}, {"bar", "b"}}));
  expectStoredIsPageList();

  // Escape dismisses it just as well: nothing applied.
  importFile(mixed);
  ASSERT_NE(dialog(), nullptr);
  ASSERT_TRUE(test::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
  test::waitUntil([this] { return page_->dialog() == nullptr; }, std::chrono::seconds(3));
  EXPECT_FALSE(page_->pendingImport().has_value());
  EXPECT_EQ(page_->entries().size(), 2);

  importFile(mixed);
  answer(QStringLiteral("Import"));
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"new1", "n1"}, {"new2", "n2"}, {"foo", "y"}, {"BAR", "B!"}}));
  EXPECT_EQ(page_->entries()[2].id, before[0]);
  EXPECT_EQ(page_->entries()[3].id, before[1]);
  expectStoredIsPageList();

  // Re-importing what was just exported asks with the full count and changes nothing.
  const QString path = test::freshDir(QStringLiteral("reimport")) + QStringLiteral("/murel-dictionary.txt");
  panels_.answer = path;
  click(page_->exportButton());
  const QList<DictionaryEntry> exported = page_->entries();
  importFile(path);
  ASSERT_NE(dialog(), nullptr);
  EXPECT_EQ(dialog()->text(), QStringLiteral("Override 4 existing rules?"));
  answer(QStringLiteral("Import"));
  EXPECT_EQ(pairsOf(page_->entries()), pairsOf(exported));
  EXPECT_EQ(idsOf(page_->entries()), idsOf(exported));
  expectStoredIsPageList();
}

TEST_F(DictionaryPage, ImportOverridesOnlyTheFirstOfTwoCaseVariants) {
  const QList<DictionaryEntry> start = {rule(QStringLiteral("x"), QStringLiteral("1")),
                                        rule(QStringLiteral("X"), QStringLiteral("2"))};
  open(start);
  importFile(writeFile(QStringLiteral("x.txt"), "x -> 3\n"));
  ASSERT_NE(dialog(), nullptr);
  EXPECT_EQ(dialog()->text(), QStringLiteral("Override 1 existing rules?"));
  answer(QStringLiteral("Import"));
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"x", "3"}, {"X", "2"}}));
  EXPECT_EQ(idsOf(page_->entries()), idsOf(start));
  expectStoredIsPageList();
}

TEST_F(DictionaryPage, ExportWritesTheFileAndShowsIt) {
  test::FakeFileManager fileManager(
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dictionary-fm")));
  const QList<DictionaryEntry> start = {rule(QStringLiteral("caf\u00e9"), QStringLiteral("coffee")),
                                        rule(QStringLiteral("gonna"), QStringLiteral("going to"))};
  open(start);
  const QString folder = test::freshDir(QStringLiteral("export"));
  const QString target = folder + QStringLiteral("/murel-dictionary.txt");
  {
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older, longer file that the export replaces entirely\n");
  }
  panels_.answer = target;
  click(page_->exportButton());
  EXPECT_EQ(panels_.askedName, QStringLiteral("murel-dictionary.txt"));
  EXPECT_EQ(panels_.askedTitle, QStringLiteral("Save dictionary"));
  QFile written(target);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), DictionaryFile::exportText(start).toUtf8());
  EXPECT_TRUE(test::waitUntil([&] { return fileManager.calls == 1; }));
  EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(target).toString()});

  // A location inside a regular file: one log line, an alert that says why, nothing changed.
  const auto failures = [] {
    return DiagLog::shared().readAll().count(QStringLiteral("  dictionary  export failed  "));
  };
  const qsizetype failedBefore = failures();
  panels_.answer = target + QStringLiteral("/inside.txt");
  click(page_->exportButton());
  EXPECT_EQ(failures(), failedBefore + 1);
  const QStringList alerts = test::shownAlerts();
  ASSERT_EQ(alerts.size(), 1);
  EXPECT_TRUE(alerts[0].startsWith(QStringLiteral("The file couldn't be saved\ninside.txt couldn't be written: ")))
      << alerts[0].toStdString();
  test::closeAlerts();
  EXPECT_EQ(fileManager.calls, 1);
  EXPECT_EQ(pairsOf(page_->entries()), pairsOf(start));

  // Cancelled: nothing written, nothing shown.
  panels_.answer.reset();
  click(page_->exportButton());
  EXPECT_EQ(failures(), failedBefore + 1);
  EXPECT_EQ(fileManager.calls, 1);
}

// Rules leave the list as the page's changes name (see the fixture), and an
// applied import fades the new list in over 0.15 s.
TEST_F(DictionaryPage, ListChangesLeaveWithTheirAnimations) {
  const QList<DictionaryEntry> start = {rule(QStringLiteral("one"), QStringLiteral("1")),
                                        rule(QStringLiteral("two"), QStringLiteral("2")),
                                        rule(QStringLiteral("three"), QStringLiteral("3"))};
  open(start);
  expectExitAnimations(
      start, {[this](const DictionaryEntry& e) { page_->deleteRule(e); },
              [this](const DictionaryEntry& e) { page_->beginRuleEdit(e); },
              [this](const DictionaryEntry& e) { page_->commitRuleEdit(e); }, [this] { page_->cancelRuleEdit(); }});

  QList<DictionaryEntry> imported = page_->entries();
  imported.prepend(rule(QStringLiteral("new"), QStringLiteral("n")));
  page_->applyImport(imported);
  EditableListRow* first = page_->row(imported[0].id);
  ASSERT_NE(first, nullptr);
  expectFadesIn(first->parentWidget(), 150);
  EXPECT_EQ(pairsOf(page_->entries()), (Pairs{{"new", "n"}, {"one", "1"}}));
  expectStoredIsPageList();
}

// 10,000 rules imported fill the card a group at a time; no row is ever
// drawn before it has its height for its width, nor over another row: the
// rows on screen are checked whenever they paint, with the page scrolled
// along while the card fills.
TEST_F(DictionaryPage, RowsFillingInAreLaidOutBeforeTheyAreDrawn) {
  open({rule(QStringLiteral("existing"), QStringLiteral("kept"))});
  QByteArray file;
  for (int i = 0; i < 10'000; ++i) {
    // Some rules wrap onto two or three lines, so heights differ along the list.
    const QByteArray original =
        i % 7 == 0 ? QByteArray("a rather long original phrase ").repeated(1 + i % 3) : QByteArray("word");
    file += original + QByteArray::number(i) + " -> replacement " + QByteArray::number(i) + '\n';
  }

  class RowPaints : public QObject {
   public:
    QStringList faults;
    int painted = 0;

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
      auto* row = qobject_cast<DictionaryRuleRow*>(watched);
      if (!row || event->type() != QEvent::Paint) return false;
      ++painted;
      if (row->height() != row->heightForWidth(row->width()))
        faults.append(QStringLiteral("%1 drawn %2 px high, %3 px at its width")
                          .arg(row->entry().original)
                          .arg(row->height())
                          .arg(row->heightForWidth(row->width())));
      const QWidget* group = row->parentWidget();
      for (const auto* other : group->findChildren<DictionaryRuleRow*>(Qt::FindDirectChildrenOnly))
        if (other != row && other->isVisible() && other->geometry().intersects(row->geometry()))
          faults.append(QStringLiteral("%1 drawn over %2").arg(row->entry().original, other->entry().original));
      if (group->height() < row->geometry().bottom() + 1)
        faults.append(QStringLiteral("%1 drawn past the end of its group").arg(row->entry().original));
      return false;
    }
  } paints;
  qApp->installEventFilter(&paints);

  importFile(writeFile(QStringLiteral("big.txt"), file));
  auto* scroller = page_->findChild<SettingsPageLayout*>();
  ASSERT_NE(scroller, nullptr);
  int frames = 0;
  // Frames grabbed while the card fills, each a little further down the list.
  while (page_->rows().size() < 10'001 && frames < 2'000) {
    QScrollBar* bar = scroller->verticalScrollBar();
    bar->setValue(std::min(bar->maximum(), bar->value() + 900));
    rig_->window().grab();
    ++frames;
    QCoreApplication::processEvents();
  }
  qApp->removeEventFilter(&paints);
  ASSERT_EQ(page_->rows().size(), 10'001);
  EXPECT_GT(paints.painted, 100);
  EXPECT_GT(frames, 3) << "the fill should take several turns";
  EXPECT_EQ(paints.faults.mid(0, 10).join(u'\n').toStdString(), "") << paints.faults.size() << " faults";
  test::settle(200);
  EXPECT_EQ(test::pageExtentFaults(page_).join(u'\n').toStdString(), "");
}
