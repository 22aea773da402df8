// The history tab in a real settings window: the saving switch, the list with
// its ages, copying to the rig's X clipboard, deleting, and clearing after the
// confirmation; driven with the real pointer.
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/SettingsComponents.h"
#include "design/Sheets.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Pasteboard.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/HistorySettingsView.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"
#include "support/Xclip.h"
#include "text/HistoryStore.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTextLayout>
#include <QTimeZone>
#include <QVariantAnimation>

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace murel;
using namespace std::chrono_literals;
using Scheme = Appearance::Scheme;

namespace {

const QDateTime kNow(QDate(2026, 6, 17), QTime(12, 0), QTimeZone("UTC"));

TEST(HistoryAges, RelativeTimeText) {
  ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
  const std::pair<qint64, const char*> cases[] = {
      {59'900, "just now"},
      {60'000, "1m ago"},
      {3'599'000, "59m ago"},
      {3'600'000, "1h ago"},
      {86'399'000, "23h ago"},
      {86'400'000, "1d ago"},
      {(29 * 24 + 23) * 3'600'000LL, "29d ago"},
      {30 * 86'400'000LL, "1mo ago"},
      {400 * 86'400'000LL, "13mo ago"},
      {-5'000'000, "just now"},
  };
  for (const auto& [ageMs, text] : cases)
    EXPECT_EQ(relativeTimeText(kNow.addMSecs(-ageMs), kNow), QString::fromLatin1(text)) << ageMs;
}

// The whole text laid out and cut, as a reference for the prefix the view lays out.
QStringList wholeTextLines(const QString& text, const QFont& font, int width, int maxLines) {
  QStringList lines;
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    if (lines.size() == maxLines - 1) {
      lines.append(QFontMetricsF(font).elidedText(text.mid(line.textStart()).simplified(), Qt::ElideRight, width));
      break;
    }
    lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
  }
  layout.endLayout();
  return lines;
}

TEST(HistoryText, LongTextsAreCutAsTheWholeTextWouldBe) {
  const QFont font = notoSans(14, DSWeight::medium);
  const QString words = QStringLiteral("a long dictated paragraph with many words ").repeated(30);
  const QString texts[] = {
      QString(),
      QStringLiteral("short"),
      words,
      QStringLiteral("iiii lll ").repeated(200),                                        // narrow letters
      QStringLiteral("start ") + QString(3000, u'w'),                                   // one word longer than any line
      QStringLiteral("words then ") + QString(90, u'm') + QStringLiteral(" ") + words,  // a long word at the break
      QStringLiteral("emoji 😀 and more ").repeated(80),
      QStringLiteral("長い文章の書き起こしです。").repeated(60),
  };
  for (const QString& text : texts)
    for (int width : {30, 120, 437, 700}) {
      ClampedText view(text, font, 4, 2);
      EXPECT_EQ(view.linesAt(width), wholeTextLines(text, font, width, 2))
          << text.left(30).toStdString() << " @" << width;
    }
}

class HistoryPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }

  void SetUp() override {
    if (!connection_.isOpen()) GTEST_SKIP() << "needs the rig's X server";
    defaults_ =
        std::make_unique<UserDefaults>(test::freshDir(QStringLiteral("history_page")) + QStringLiteral("/d.json"));
    store_ = std::make_unique<HistoryStore>(*defaults_, [this] { return stamp_; });
    pasteboard_ = std::make_unique<X11Pasteboard>(&connection_);
  }

  void add(const QString& text, qint64 secondsAgo) {
    stamp_ = kNow.addSecs(-secondsAgo);
    store_->add(text);
  }

  void open() {
    pages_.set(SettingsTab::history, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new HistorySettingsView(
          *store_, *pasteboard_, clock_, [] { return kNow; }, std::nullopt, parent);
    });
    rig_ = std::make_unique<test::SettingsWindowRig>(SettingsTab::history, pages_);
    page_ = qobject_cast<HistorySettingsView*>(rig_->view().currentPage());
    ASSERT_NE(page_, nullptr);
  }

  void reopen() {
    rig_->show(SettingsTab::dashboard);
    rig_->show(SettingsTab::history);
    page_ = qobject_cast<HistorySettingsView*>(rig_->view().currentPage());
    ASSERT_NE(page_, nullptr);
  }

  // Clicks a row's button with the real pointer, hovering the row first so it is shown.
  void clickButton(HistoryEntryRow* row, QWidget* button) {
    ASSERT_TRUE(test::hoverAt(row, QPoint(row->width() / 2, row->height() / 2)));
    test::settle(80);
    ASSERT_TRUE(test::clickCentre(button));
    test::settle(80);
  }

  void clickClearAllThen(const QString& answer) {
    ASSERT_TRUE(test::clickCentre(page_->clearAllButton()));
    test::settle(150);
    DSAlert* box = page_->confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->title(), QStringLiteral("Clear all transcriptions?"));
    EXPECT_EQ(box->message(),
              QStringLiteral("this permanently deletes every saved transcription. this can't be undone."));
    QAbstractButton* chosen = nullptr;
    for (QAbstractButton* button : box->buttons())
      if (button->text() == answer) chosen = button;
    ASSERT_NE(chosen, nullptr) << answer.toStdString();
    EXPECT_EQ(box->role(chosen),
              answer == QStringLiteral("Cancel") ? DSAlert::Role::cancel : DSAlert::Role::destructive);
    ASSERT_TRUE(test::clickCentre(chosen));
    test::settle(150);
  }

  QStringList rowTexts() const {
    QStringList texts;
    for (HistoryEntryRow* row : page_->rows()) texts.append(row->entry().text);
    return texts;
  }

  QDateTime stamp_ = kNow;
  std::unique_ptr<UserDefaults> defaults_;
  std::unique_ptr<HistoryStore> store_;
  x11::Connection connection_;
  std::unique_ptr<X11Pasteboard> pasteboard_;
  test::FakeClock clock_;
  SettingsPages pages_;
  std::unique_ptr<test::SettingsWindowRig> rig_;
  HistorySettingsView* page_ = nullptr;
};

}  // namespace

TEST_F(HistoryPage, EmptyHistory) {
  open();
  const QStringList texts = test::visibleTexts(page_);
  for (const char* text :
       {"History", "LOG", "Save history", "store transcriptions locally for later reference.", "RECENT TRANSCRIPTIONS",
        "No transcriptions yet", "recordings will appear here after transcription."})
    EXPECT_TRUE(texts.contains(QString::fromLatin1(text))) << text;
  EXPECT_FALSE(page_->clearAllButton()->isVisible());
  EXPECT_TRUE(test::rawKeysAmong(texts).isEmpty()) << test::rawKeysAmong(texts).join(u' ').toStdString();
  test::settingsScreenshot(rig_->window(), QStringLiteral("history-empty"), Scheme::Light);
  test::settingsScreenshot(rig_->window(), QStringLiteral("history-empty"), Scheme::Dark);
}

TEST_F(HistoryPage, ListsNewestFirstWithAgesAndLongTextsCut) {
  const QString longText = QStringLiteral("a long dictation ").repeated(60).trimmed();
  add(longText, 400 * 86'400);
  add(QStringLiteral("second"), 3 * 3600);
  add(QStringLiteral("newest"), 30);
  open();
  EXPECT_EQ(rowTexts(), (QStringList{QStringLiteral("newest"), QStringLiteral("second"), longText}));
  const QList<HistoryEntryRow*> rows = page_->rows();
  EXPECT_EQ(rows[0]->ageLabel()->text(), QStringLiteral("just now"));
  EXPECT_EQ(rows[1]->ageLabel()->text(), QStringLiteral("3h ago"));
  EXPECT_EQ(rows[2]->ageLabel()->text(), QStringLiteral("13mo ago"));
  const QStringList lines = rows[2]->textView()->linesAt(rows[2]->textView()->width());
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("“a long")));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral("…")));
  EXPECT_EQ(rows[2]->textView()->height(), rows[2]->textView()->heightForWidth(rows[2]->textView()->width()));
  EXPECT_TRUE(page_->clearAllButton()->isVisible());
  const QStringList texts = test::visibleTexts(page_);
  EXPECT_TRUE(texts.contains(QStringLiteral("CLEAR ALL")));
  EXPECT_TRUE(test::rawKeysAmong(texts).isEmpty()) << test::rawKeysAmong(texts).join(u' ').toStdString();
  test::settingsScreenshot(rig_->window(), QStringLiteral("history-full"), Scheme::Light);
  test::settingsScreenshot(rig_->window(), QStringLiteral("history-full"), Scheme::Dark);
}

TEST_F(HistoryPage, CopyMarksMoveAndClearOnTheirOwnTime) {
  add(QStringLiteral("text of B"), 120);
  add(QStringLiteral("text of A, with “quotes” inside"), 60);
  open();
  HistoryEntryRow* a = page_->rows()[0];
  HistoryEntryRow* b = page_->rows()[1];
  EXPECT_FALSE(a->copyButton()->isShown());
  EXPECT_FALSE(a->deleteButton()->isShown());

  clickButton(a, a->copyButton());
  EXPECT_EQ(test::xclipRead(), QStringLiteral("text of A, with “quotes” inside").toUtf8());
  for (const QByteArray& target : test::xclipDataTargets())
    EXPECT_TRUE(target.contains("STRING") || target.contains("TEXT") || target.startsWith("text/")) << target.data();
  EXPECT_EQ(page_->copiedEntryID(), a->entry().id);
  EXPECT_EQ(a->copyButton()->iconName(), QStringLiteral("checkmark"));

  // Away from the rows: the copied row keeps its copy button, the delete buttons go.
  const QImage hiddenDelete = b->deleteButton()->grab().toImage();
  ASSERT_TRUE(test::hoverAt(page_->clearAllButton(), QPoint(2, 2)));
  test::settle(80);
  EXPECT_FALSE(page_->hoveredEntryID().has_value());
  EXPECT_TRUE(a->copyButton()->isShown());
  EXPECT_FALSE(a->deleteButton()->isShown());
  EXPECT_FALSE(b->copyButton()->isShown());
  // Once the fade is over, the delete button is drawn as one never shown.
  test::settle(250);
  EXPECT_EQ(a->deleteButton()->grab().toImage(), hiddenDelete);
  EXPECT_NE(a->copyButton()->grab().toImage(), hiddenDelete);

  clock_.advance(1000ms);
  clickButton(b, b->copyButton());
  EXPECT_EQ(test::xclipRead(), QByteArray("text of B"));
  EXPECT_EQ(page_->copiedEntryID(), b->entry().id);
  EXPECT_EQ(a->copyButton()->iconName(), QStringLiteral("doc.on.doc"));
  EXPECT_EQ(b->copyButton()->iconName(), QStringLiteral("checkmark"));
  ASSERT_TRUE(test::hoverAt(page_->clearAllButton(), QPoint(2, 2)));
  test::settle(80);

  clock_.advance(600ms);  // A's reset: B keeps its mark
  EXPECT_EQ(page_->copiedEntryID(), b->entry().id);
  EXPECT_TRUE(b->copyButton()->isShown());
  clock_.advance(1000ms);  // 1.6 s after B
  EXPECT_FALSE(page_->copiedEntryID().has_value());
  EXPECT_FALSE(b->copyButton()->isShown());
}

// The copy mark comes and goes with a short ease-out cross-fade of the icon.
TEST_F(HistoryPage, CopyMarkCrossFadesInAndOut) {
  add(QStringLiteral("only"), 60);
  open();
  ASSERT_TRUE(test::hoverAt(page_->clearAllButton(), QPoint(2, 2)));
  test::settle(80);
  HistoryEntryRow* row = page_->rows()[0];
  SettingsActionButton* copy = row->copyButton();
  QVariantAnimation* fade = copy->iconSwap()->animation();

  page_->copyEntry(row->entry());
  EXPECT_EQ(copy->iconName(), QStringLiteral("checkmark"));
  EXPECT_EQ(copy->accentColor(), DSColor::success);
  EXPECT_EQ(copy->iconSwap()->value(), 0.0) << "it starts from the copy icon";
  ASSERT_EQ(fade->state(), QAbstractAnimation::Running);
  EXPECT_EQ(fade->duration(), Motion::kHover);
  EXPECT_EQ(fade->easingCurve(), Motion::easeOut());
  ASSERT_TRUE(test::waitUntil([&] { return !copy->iconSwap()->isRunning(); }));
  EXPECT_EQ(copy->iconSwap()->value(), 1.0);

  clock_.advance(HistorySettingsView::kCopiedMarkDuration);
  EXPECT_EQ(copy->iconName(), QStringLiteral("doc.on.doc"));
  EXPECT_EQ(copy->accentColor(), std::nullopt);
  EXPECT_EQ(copy->iconSwap()->value(), 0.0) << "it starts from the checkmark";
  ASSERT_EQ(fade->state(), QAbstractAnimation::Running);
  EXPECT_EQ(fade->duration(), Motion::kHover);
  EXPECT_FALSE(copy->isShown()) << "and, away from the pointer, fades out with it";
}

TEST_F(HistoryPage, DeleteAndClearAll) {
  add(QStringLiteral("one"), 300);
  add(QStringLiteral("two"), 200);
  add(QStringLiteral("three"), 100);
  open();

  HistoryEntryRow* two = page_->rows()[1];
  clickButton(two, two->deleteButton());
  EXPECT_EQ(rowTexts(), (QStringList{QStringLiteral("three"), QStringLiteral("one")}));
  ASSERT_EQ(store_->entries().size(), 2);
  // Once folded away the deleted row is gone, and the rest are numbered anew.
  test::settle(300);
  EXPECT_EQ(page_->findChildren<HistoryEntryRow*>().size(), 2);
  EXPECT_EQ(page_->rows()[1]->numeral()->text(), QStringLiteral("02"));

  // Saving off: the entries stay, and an entry recorded meanwhile is not added.
  ASSERT_TRUE(test::clickCentre(page_->saveToggle()));
  test::settle(100);
  EXPECT_FALSE(store_->isEnabled());
  EXPECT_EQ(defaults_->boolValue(QString::fromLatin1(HistoryStore::kEnabledKey)), false);
  EXPECT_EQ(rowTexts().size(), 2);

  clickClearAllThen(QStringLiteral("Cancel"));
  EXPECT_EQ(rowTexts().size(), 2);
  EXPECT_EQ(store_->entries().size(), 2);

  // Copy still works with saving off.
  HistoryEntryRow* one = page_->rows()[1];
  clickButton(one, one->copyButton());
  EXPECT_EQ(test::xclipRead(), QByteArray("one"));

  clickClearAllThen(QStringLiteral("Clear All"));
  EXPECT_TRUE(page_->rows().isEmpty());
  EXPECT_TRUE(store_->entries().isEmpty());
  EXPECT_FALSE(page_->clearAllButton()->isVisible());
  EXPECT_TRUE(test::visibleTexts(page_).contains(QStringLiteral("No transcriptions yet")));
  // The empty state has faded in fully.
  test::settle(300);
  ASSERT_NE(page_->emptyRow(), nullptr);
  EXPECT_EQ(page_->emptyRow()->graphicsEffect(), nullptr);
  EXPECT_TRUE(page_->findChildren<HistoryEntryRow*>().isEmpty());
}

// The confirmation is the design's alert over the dimmed page: title over a
// wrapped message, "Cancel" and a destructive "Clear All" in the danger
// colour, the focus on Cancel; Escape, Return and Ctrl+W leave the history.
TEST_F(HistoryPage, ClearAllAsksInTheDesignsAlert) {
  add(QStringLiteral("kept"), 60);
  open();
  for (const char* key : {"Escape", "Return", "ctrl+w"}) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(test::clickCentre(page_->clearAllButton()));
    ASSERT_TRUE(test::waitUntil([&] { return page_->confirmation() && page_->confirmation()->isVisible(); }));
    DSAlert* alert = page_->confirmation();
    test::settle(100);
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(alert->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(alert->width(), DSAlert::kWidth);
    ASSERT_EQ(alert->buttons().size(), 2);
    QAbstractButton* cancel = alert->buttons()[0];
    auto* clear = alert->buttons()[1];
    EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(clear->text(), QStringLiteral("Clear All"));
    EXPECT_EQ(alert->role(clear), DSAlert::Role::destructive);
    EXPECT_EQ(clear->tint(), DSColor::danger);
    EXPECT_TRUE(cancel->hasFocus());
    // Title above the message, the message wrapped in full, buttons below both, all inside.
    const QRect title = alert->titleLabel()->geometry();
    const QRect message = alert->messageLabel()->geometry();
    EXPECT_LE(title.bottom(), message.top());
    EXPECT_EQ(message.height(), alert->messageLabel()->heightForWidth(message.width()));
    for (QWidget* button : {static_cast<QWidget*>(cancel), static_cast<QWidget*>(clear)}) {
      const QRect at(button->mapTo(alert, QPoint()), button->size());
      EXPECT_GT(at.top(), message.bottom());
      EXPECT_TRUE(alert->rect().contains(at)) << "button outside the alert";
    }
    EXPECT_LT(cancel->mapTo(alert, QPoint()).x(), clear->mapTo(alert, QPoint()).x()) << "Clear All at the end";
    EXPECT_NE(rig_->window().findChild<SheetBackdrop*>(), nullptr) << "the page dims behind";
    if (std::string(key) == "Escape") {
      for (Scheme scheme : {Scheme::Light, Scheme::Dark})
        test::settingsScreenshot(rig_->window(), QStringLiteral("history-clear-all"), scheme);
    }
    alert->activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return alert->isActiveWindow(); }));
    ASSERT_TRUE(test::xdotool({QStringLiteral("key"), QString::fromLatin1(key)}));
    ASSERT_TRUE(test::waitUntil([&] { return !page_->confirmation(); }));
    test::settle(50);
    EXPECT_EQ(rowTexts(), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(store_->entries().size(), 1);
    EXPECT_TRUE(rig_->window().isVisible());
    EXPECT_EQ(rig_->window().findChild<SheetBackdrop*>(), nullptr);
  }
}

TEST_F(HistoryPage, DeletingTheLastEntryShowsTheEmptyStateAndNewEntriesWaitForARebuild) {
  add(QStringLiteral("only"), 10);
  open();
  // Delivered while the page is open: shown only when the page is built again.
  add(QStringLiteral("later"), 0);
  EXPECT_EQ(rowTexts(), QStringList{QStringLiteral("only")});

  HistoryEntryRow* only = page_->rows()[0];
  clickButton(only, only->deleteButton());
  EXPECT_TRUE(page_->rows().isEmpty());
  EXPECT_FALSE(page_->clearAllButton()->isVisible());
  EXPECT_TRUE(test::visibleTexts(page_).contains(QStringLiteral("No transcriptions yet")));
  EXPECT_EQ(store_->entries().size(), 1);

  reopen();
  EXPECT_EQ(rowTexts(), QStringList{QStringLiteral("later")});
}

// However many entries and however long, at the window's size and narrower,
// the page scrolls to its bottom space past the last entry and no further,
// and a word wider than the card wraps inside the window.
TEST_F(HistoryPage, ScrollEndsAtTheLastEntryAtAnyWidth) {
  struct Case {
    const char* name;
    int count;
    QString text;
  };
  const Case cases[] = {
      {"100 one-line", 100, QStringLiteral("a short note")},
      {"20 long", 20, QStringLiteral("a long dictation about the weather and the week ahead ").repeated(12).trimmed()},
      {"a 5,000-character word", 3, QString(5'000, QLatin1Char('w'))},
  };
  for (const Case& c : cases) {
    for (const int width : {850, 640}) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(width) + " px");
      rig_.reset();
      store_->clear();
      for (int i = 0; i < c.count; ++i) add(c.text, 60 * i);
      open();
      rig_->view().setFixedSize(width, 700);
      test::settle(100);
      ASSERT_EQ(page_->rows().size(), c.count);
      EXPECT_EQ(test::pageExtentFaults(&rig_->window()).join(u'\n').toStdString(), "");

      auto* scroller = page_->findChild<SettingsPageLayout*>();
      QScrollBar* bar = scroller->verticalScrollBar();
      bar->setValue(bar->maximum());
      test::settle(50);
      HistoryEntryRow* last = page_->rows().last();
      const int below =
          scroller->viewport()->height() - last->mapTo(scroller->viewport(), QPoint(0, last->height())).y();
      EXPECT_GE(below, 0) << "the last entry is cut off";
      if (bar->maximum() > 0) EXPECT_LE(below, SettingsPageLayout::kBottomSpace) << "blank past the last entry";
      if (c.count == 100 && width == 850) {
        test::settingsScreenshot(rig_->window(), QStringLiteral("history-end"), Scheme::Light);
        test::settingsScreenshot(rig_->window(), QStringLiteral("history-end"), Scheme::Dark);
      }
    }
  }
}
