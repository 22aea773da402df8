// The hotkey row, the notices and the activation-mode picker as the settings
// pages and onboarding place them: fed values, heard through their signals.
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/Text.h"
#include "runtime/Localization.h"
#include "support/TestEnv.h"

#include <QLayout>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace murel;
using murel::test::waitUntil;
using M = KeyModifiers;

namespace {

class HotkeyComponents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
};

}  // namespace

TEST_F(HotkeyComponents, BindingRowShowsWhatItIsFed) {
  struct Case {
    const char* rule;
    std::optional<KeyCombo> combo;
    bool recording;
    bool unavailable;
    bool clearable;
    QStringList keycaps;  // empty: "no hotkey"
    bool clearShown;
    const char* pill;
    DSColor tint;
  };
  const Case cases[] = {
      {"nothing set: no hotkey and REBIND", std::nullopt, false, false, true, {}, false, "REBIND", DSColor::accent},
      {"set: keycaps, CLEAR and REBIND",
       KeyCombo(Key::space, M::option | M::shift),
       false,
       false,
       true,
       {"Alt", "Shift", "␣ SPACE"},
       true,
       "REBIND",
       DSColor::accent},
      {"listening keeps the keycaps and CLEAR",
       KeyCombo(Key::space, M::option | M::shift),
       true,
       false,
       true,
       {"Alt", "Shift", "␣ SPACE"},
       true,
       "LISTENING…",
       DSColor::accent},
      {"a code without a key reads ?",
       KeyCombo(52, KeyModifiers(M::command)),
       false,
       false,
       true,
       {"Super", "?"},
       true,
       "REBIND",
       DSColor::accent},
      {"not clearable: no CLEAR",
       KeyCombo(Key::d, M::leftControl),
       false,
       false,
       false,
       {"L Ctrl", "D"},
       false,
       "REBIND",
       DSColor::accent},
      {"unavailable: warning pill",
       KeyCombo(Key::d, M::leftControl),
       false,
       true,
       false,
       {"L Ctrl", "D"},
       false,
       "UNAVAILABLE — REBIND",
       DSColor::warning},
      {"listening hides unavailable",
       KeyCombo(Key::d, M::leftControl),
       true,
       true,
       false,
       {"L Ctrl", "D"},
       false,
       "LISTENING…",
       DSColor::accent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    // Fed once at creation and once through the setters: both show the same.
    HotkeyBindingRow fresh(c.combo, c.recording);
    HotkeyBindingRow updated(KeyCombo(Key::a, M::command), !c.recording);
    updated.setCombo(c.combo);
    updated.setRecording(c.recording);
    for (HotkeyBindingRow* row : {&fresh, &updated}) {
      row->setClearable(c.clearable);
      row->setUnavailable(c.unavailable);
      row->show();
      EXPECT_EQ(row->keycapLabels(), c.keycaps);
      EXPECT_EQ(row->noHotkeyLabel()->isVisible(), c.keycaps.isEmpty());
      EXPECT_EQ(row->noHotkeyLabel()->text(), QStringLiteral("no hotkey"));
      EXPECT_EQ(row->clearButton()->isVisible(), c.clearShown);
      EXPECT_EQ(row->clearButton()->text(), QStringLiteral("CLEAR"));
      EXPECT_EQ(row->rebindButton()->text(), QString::fromUtf8(c.pill));
      EXPECT_EQ(row->rebindButton()->tint(), c.tint);
      EXPECT_EQ(row->clearButton()->tint(), DSColor::danger);
    }
  }
}

TEST_F(HotkeyComponents, BindingRowReportsBothPressesEvenWhileListening) {
  HotkeyBindingRow row(KeyCombo(Key::space, M::option), true);
  row.show();
  QSignalSpy cleared(&row, &HotkeyBindingRow::clearClicked);
  QSignalSpy rebound(&row, &HotkeyBindingRow::rebindClicked);
  QTest::mouseClick(row.clearButton(), Qt::LeftButton, {}, row.clearButton()->rect().center());
  QTest::mouseClick(row.rebindButton(), Qt::LeftButton, {}, row.rebindButton()->rect().center());
  EXPECT_EQ(cleared.count(), 1);
  EXPECT_EQ(rebound.count(), 1);
}

TEST_F(HotkeyComponents, NoticesAreInsetWarnings) {
  HotkeyConflictNotice notice;
  EXPECT_EQ(notice.textLabel()->text(), QStringLiteral("that shortcut is already in use."));
  EXPECT_EQ(notice.textLabel()->style().color, DSColor::warning);
  EXPECT_EQ(notice.textLabel()->style().font.pixelSize(), 14);
  EXPECT_TRUE(notice.textLabel()->style().font.italic());
  EXPECT_EQ(notice.layout()->contentsMargins(), QMargins(4, 12, 0, 0));
}

TEST_F(HotkeyComponents, ListeningFrameTintsWhileListening) {
  ListeningRowFrame frame(new QWidget);
  frame.show();
  EXPECT_EQ(frame.layout()->contentsMargins(), QMargins(20, 16, 20, 16));
  EXPECT_EQ(frame.tintProgress(), 0);
  frame.setListening(true);
  ASSERT_TRUE(waitUntil([&] { return frame.tintProgress() == 1; }));
  frame.setListening(false);
  ASSERT_TRUE(waitUntil([&] { return frame.tintProgress() == 0; }));
}

TEST_F(HotkeyComponents, ActivationModePickerIsFedAndReports) {
  ActivationModePicker picker(ActivationMode::hybrid);
  picker.resize(400, picker.sizeHint().height());
  picker.show();
  QSignalSpy picked(&picker, &ActivationModePicker::picked);
  struct Press {
    ActivationMode mode;
    const char* caption;
  };
  const Press presses[] = {
      {ActivationMode::holdToActivate, "hold to record, release to stop."},
      {ActivationMode::holdToActivate, "hold to record, release to stop."},  // the chosen one reports again
      {ActivationMode::toggle, "press once to start, press again to stop."},
      {ActivationMode::hybrid, "short press toggles, long press is push-to-talk."},
  };
  for (const Press& press : presses) {
    QAbstractButton* segment = picker.segment(press.mode);
    QTest::mouseClick(segment, Qt::LeftButton, {}, segment->rect().center());
    ASSERT_FALSE(picked.isEmpty());
    EXPECT_EQ(picked.takeLast().at(0).value<ActivationMode>(), press.mode);
    EXPECT_EQ(picker.selection(), press.mode);
    EXPECT_EQ(picker.captionLabel()->text(), QString::fromUtf8(press.caption));
    ASSERT_TRUE(waitUntil([&] { return picker.capsuleRect() == QRectF(segment->geometry()); }));
  }
  // Fed from outside: shown, not reported.
  picker.setSelection(ActivationMode::toggle);
  EXPECT_TRUE(picked.isEmpty());
  EXPECT_EQ(picker.captionLabel()->text(), QStringLiteral("press once to start, press again to stop."));
  // Equal shares of the row.
  EXPECT_EQ(picker.segment(ActivationMode::hybrid)->width(), picker.segment(ActivationMode::holdToActivate)->width());
}
