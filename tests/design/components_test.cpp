// Geometry, colours per appearance and behaviour of the design-system
// components, rendered on the rig's X server and driven with window-level
// input (the same path real clicks take).
#include "design/CoreComponents.h"
#include "design/EditorialComponents.h"
#include "design/InputComponents.h"
#include "design/Motion.h"
#include "design/ProgressComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "runtime/Localization.h"
#include "support/FakeClock.h"
#include "support/TestEnv.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <gtest/gtest.h>

using namespace murel;
using murel::test::waitUntil;
using Scheme = Appearance::Scheme;

namespace {

class DesignComponents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
};

// A top-level window in the page colour, forced to one appearance.
class Window : public QWidget {
 public:
  explicit Window(Scheme scheme = Scheme::Light) {
    Appearance::setOverride(this, scheme);
    layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);
  }
  template <typename W>
  W* add(W* widget) {
    layout->addWidget(widget);
    return widget;
  }
  void open(QSize size = QSize(400, 300)) {
    resize(size);
    show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(this));
  }
  void activate() {
    activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(this));
  }
  QVBoxLayout* layout;

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), dsColor(DSColor::background, this)); }
};

// A click as the window system delivers it, at `pos` in `widget`.
void click(QWidget* widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
  QWidget* window = widget->window();
  QTest::mouseClick(window->windowHandle(), button, {}, widget->mapTo(window, pos));
}
void click(QWidget* widget) { click(widget, widget->rect().center()); }

bool near(const QColor& a, const QColor& b, int tolerance = 3) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor over(const QColor& top, const QColor& bottom) {
  const qreal a = top.alphaF();
  return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                          float(top.greenF() * a + bottom.greenF() * (1 - a)),
                          float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

QImage snapshot(QWidget* widget) { return widget->grab().toImage(); }

// What the screen shows at `pos` in `widget`: the whole window is rendered,
// so translucent parts are seen over what lies beneath them.
QColor pixel(QWidget* widget, QPoint pos) {
  QWidget* window = widget->window();
  return window->grab().toImage().pixelColor(widget->mapTo(window, pos));
}

// Moves the real pointer (the X server sends enter and leave events).
void pointTo(QWidget* widget, QPoint pos) { QCursor::setPos(widget->mapToGlobal(pos)); }

}  // namespace

// Core

TEST_F(DesignComponents, StepCounterReadsZeroPaddedStepOverTotal) {
  const struct {
    int current, total;
    const char* text;
  } cases[] = {{0, 7, "01/07"}, {9, 12, "10/12"}, {99, 100, "100/100"}, {6, 7, "07/07"}};
  for (const auto& c : cases) EXPECT_EQ(StepCounter(c.current, c.total).text(), QLatin1String(c.text));
  // The largest index still counts up without overflowing.
  EXPECT_EQ(StepCounter(std::numeric_limits<int>::max(), 1).text(), QStringLiteral("2147483648/01"));
}

TEST_F(DesignComponents, StepCounterDrawsTheStepInAccentAndTheRestSecondary) {
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    Window window(scheme);
    auto* counter = window.add(new StepCounter(0, 7));
    window.open();
    const QImage image = snapshot(counter);
    // Darkest (light) or brightest (dark) ink in the left and right thirds.
    auto inks = [&](int from, int to) {
      QList<QColor> colours;
      for (int x = from; x < to; ++x)
        for (int y = 0; y < image.height(); ++y) {
          const QColor c = image.pixelColor(x, y);
          if (!near(c, dsColor(DSColor::background, scheme), 40)) colours << c;
        }
      return colours;
    };
    const auto anyNear = [](const QList<QColor>& colours, const QColor& want) {
      return std::any_of(colours.begin(), colours.end(), [&](const QColor& c) { return near(c, want, 12); });
    };
    EXPECT_TRUE(anyNear(inks(0, image.width() / 4), dsColor(DSColor::accent, scheme)));
    EXPECT_TRUE(anyNear(inks(image.width() * 3 / 4, image.width()), dsColor(DSColor::inkSecondary, scheme)));
  }
}

TEST_F(DesignComponents, DividerRuleAndStripeGeometry) {
  Window window(Scheme::Dark);
  auto* divider = window.add(new ThinDivider);
  auto* rule = window.add(new EditorialRule);
  auto* stripe = window.add(new DSAccentStripe(48, 3));
  window.open();
  EXPECT_EQ(divider->height(), 1);
  EXPECT_EQ(divider->width(), 360);
  EXPECT_EQ(snapshot(divider), snapshot(rule)) << "a rule draws exactly like the divider";
  const QColor page = dsColor(DSColor::background, Scheme::Dark);
  EXPECT_TRUE(near(pixel(divider, QPoint(100, 0)), over(dsColor(DSColor::hairline, Scheme::Dark), page)));
  EXPECT_EQ(stripe->size(), QSize(48, 3));
  EXPECT_TRUE(near(pixel(stripe, QPoint(24, 1)), dsColor(DSColor::accent, Scheme::Dark)));
}

TEST_F(DesignComponents, AppIconDrawsItsImageAsATintedTemplateKeepingItsShape) {
  // A 2:1 image from a resource folder of the test's own.
  const QString resources = murel::test::freshDir(QStringLiteral("resources"));
  QDir().mkpath(resources + QStringLiteral("/images/Icons"));
  QFile svg(resources + QStringLiteral("/images/Icons/wide.svg"));
  ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
  svg.write(
      R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 20 10"><rect width="20" height="10" fill="#f00"/></svg>)");
  svg.close();
  const QByteArray previous = qgetenv("MUREL_RESOURCE_DIR");
  qputenv("MUREL_RESOURCE_DIR", resources.toUtf8());

  Window window(Scheme::Dark);
  auto* icon = window.add(new AppIcon(QStringLiteral("Icons/wide"), 20));
  auto* tinted = window.add(new AppIcon(QStringLiteral("Icons/wide"), 20));
  tinted->setColor(DSColor::accent);
  window.open();
  EXPECT_EQ(icon->size(), QSize(20, 20));
  const QColor page = dsColor(DSColor::background, Scheme::Dark);
  EXPECT_TRUE(near(pixel(icon, QPoint(10, 2)), page)) << "letterboxed above";
  EXPECT_TRUE(near(pixel(icon, QPoint(10, 10)), dsColor(DSColor::ink, Scheme::Dark))) << "drawn in ink, not red";
  EXPECT_TRUE(near(pixel(icon, QPoint(10, 17)), page)) << "letterboxed below";
  EXPECT_TRUE(near(pixel(tinted, QPoint(10, 10)), dsColor(DSColor::accent, Scheme::Dark)));
  qputenv("MUREL_RESOURCE_DIR", previous);
}

// Editorial

TEST_F(DesignComponents, ChapterNumeralPadsAndShrinksToItsColumn) {
  EXPECT_EQ(EditorialChapterNumeral(0, false, false).text(), QStringLiteral("00"));
  EXPECT_EQ(EditorialChapterNumeral(3, false, false).text(), QStringLiteral("03"));
  EXPECT_EQ(EditorialChapterNumeral(12, false, false).text(), QStringLiteral("12"));
  EditorialChapterNumeral wide(100, false, false);
  EXPECT_EQ(wide.text(), QStringLiteral("100"));
  EXPECT_LT(wide.fitScale(), 1.0);
  EXPECT_GE(wide.fitScale(), 0.5);
  EXPECT_EQ(wide.sizeHint().width(), 44);
  EXPECT_EQ(EditorialChapterNumeral(1, false, true).sizeHint().height(),
            EditorialChapterNumeral(1, false, false).sizeHint().height() + 2);
}

TEST_F(DesignComponents, ToggleFlipsOncePerClickAndSlidesItsKnob) {
  Window window;
  auto* toggle = window.add(new EditorialToggleButton(false));
  std::vector<bool> reported;
  QObject::connect(toggle, &QAbstractButton::toggled, [&](bool on) { reported.push_back(on); });
  window.open();
  EXPECT_EQ(toggle->size(), QSize(44, 24));
  click(toggle);
  click(toggle);
  click(toggle);
  EXPECT_EQ(reported, (std::vector<bool>{true, false, true}));
  ASSERT_TRUE(waitUntil([&] { return toggle->knobPosition() == 1.0; }));
  // On: accent track, dark knob at the trailing end.
  EXPECT_TRUE(near(pixel(toggle, QPoint(8, 12)), dsColor(DSColor::accent, Scheme::Light)));
  EXPECT_TRUE(near(pixel(toggle, QPoint(32, 12)), dsColor(DSColor::onAccent, Scheme::Light)));
  // Off: a clear track, the grey knob at the leading end.
  toggle->setOn(false);
  EXPECT_TRUE(near(pixel(toggle, QPoint(12, 12)), dsColor(DSColor::inkSecondary, Scheme::Light)));
  EXPECT_TRUE(near(pixel(toggle, QPoint(34, 12)), dsColor(DSColor::background, Scheme::Light)));
}

TEST_F(DesignComponents, StatusPillSizesFromItsLabelAndMark) {
  using L = EditorialStatusPill::Leading;
  const QSizeF text = TextMetrics::size(QStringLiteral("READY"), tracked(notoSans(10), 1.5), 2);
  const QSize plain = EditorialStatusPill(QStringLiteral("READY"), L::none, DSColor::success).sizeHint();
  EXPECT_EQ(plain.width(), int(std::ceil(24 + text.width())));
  EXPECT_EQ(plain.height(), int(std::ceil(8 + text.height())));
  const QSize dotted = EditorialStatusPill(QStringLiteral("READY"), L::dot, DSColor::success).sizeHint();
  EXPECT_EQ(dotted.width(), plain.width() + 6 + 4);
  Window window(Scheme::Dark);
  auto* pill = window.add(new EditorialStatusPill(QStringLiteral("CONFLICT"), L::dot, DSColor::warning));
  window.open();
  EXPECT_TRUE(near(pixel(pill, QPoint(15, pill->height() / 2)), dsColor(DSColor::warning, Scheme::Dark), 20));
}

TEST_F(DesignComponents, PillButtonCallsItsActionOncePerClick) {
  Window window;
  int calls = 0;
  auto* button = window.add(new EditorialPillButton(QStringLiteral("RETRY"), DSColor::accent, [&] { ++calls; }));
  window.open();
  click(button);
  click(button);
  EXPECT_EQ(calls, 2);
  button->setEnabled(false);
  click(button);
  EXPECT_EQ(calls, 2);
}

TEST_F(DesignComponents, KeycapsWidenForLongLabelsAndJoinWithPlusSigns) {
  EditorialKeycap narrow(QStringLiteral("A"), 40, 30, 14);
  EditorialKeycap wide(QStringLiteral("BACKSPACE"), 40, 30, 14);
  EXPECT_EQ(narrow.sizeHint(), QSize(40, 30));
  EXPECT_GT(wide.sizeHint().width(), 40);
  EXPECT_EQ(wide.sizeHint().height(), 30);

  auto pluses = [](const EditorialKeycapRow& row) {
    int count = 0;
    for (auto* label : row.findChildren<TextLabel*>()) count += label->text() == QStringLiteral("+");
    return count;
  };
  const EditorialKeycapRow none({}, 30, 30, 12, 14);
  const EditorialKeycapRow one({QStringLiteral("A")}, 30, 30, 12, 14);
  const EditorialKeycapRow three({QStringLiteral("⌃"), QStringLiteral("⌥"), QStringLiteral("A")}, 30, 30, 12, 14);
  EXPECT_EQ(none.findChildren<EditorialKeycap*>().size(), 0);
  EXPECT_EQ(pluses(one), 0);
  EXPECT_EQ(pluses(three), 2);
  EXPECT_EQ(three.findChildren<EditorialKeycap*>().size(), 3);

  // The label is drawn in the page colour on an ink key.
  Window window(Scheme::Dark);
  auto* key = window.add(new EditorialKeycap(QStringLiteral("A"), 40, 30, 14));
  window.open();
  EXPECT_TRUE(near(pixel(key, QPoint(4, 15)), dsColor(DSColor::ink, Scheme::Dark)));
}

TEST_F(DesignComponents, RowHoverTintsOnlyInactiveRows) {
  Window window;
  auto* row = window.add(new EditorialRowHover(new QWidget, false));
  row->setFixedHeight(40);
  window.open();
  pointTo(&window, QPoint(5, 5));
  pointTo(row, QPoint(50, 20));
  ASSERT_TRUE(waitUntil([&] { return row->isHovering(); }));
  const QColor base = dsColor(DSColor::background, Scheme::Light);
  QColor ink = dsColor(DSColor::ink, Scheme::Light);
  ink.setAlphaF(0.03f);
  const QColor tinted = over(ink, base);
  EXPECT_TRUE(waitUntil(
      [&] { return near(pixel(row, QPoint(50, 20)), tinted, 1) && !near(pixel(row, QPoint(50, 20)), base, 0); }));
  row->setActive(true);
  EXPECT_TRUE(near(pixel(row, QPoint(50, 20)), base, 0));
  pointTo(&window, QPoint(5, 5));
  EXPECT_TRUE(waitUntil([&] { return !row->isHovering(); }));
}

// Progress

TEST_F(DesignComponents, ProgressBarClampsItsFill) {
  Window window;
  auto* bar = window.add(new DSProgressBar(0.5, 6));
  window.open();
  const QColor accent = dsColor(DSColor::accent, Scheme::Light);
  const int w = bar->width();
  const struct {
    double progress;
    double fill;
  } cases[] = {{-0.5, 0}, {0, 0}, {0.25, 0.25}, {1, 1}, {1.7, 1}};
  for (const auto& c : cases) {
    bar->setProgress(c.progress);
    EXPECT_DOUBLE_EQ(bar->fillFraction(), c.fill);
    const QImage image = snapshot(bar);
    const int inside = int(w * c.fill) - 4;
    const int outside = int(w * c.fill) + 4;
    if (inside > 3) {
      EXPECT_TRUE(near(image.pixelColor(inside, 3), accent)) << c.progress;
    }
    if (outside < w - 3) {
      EXPECT_FALSE(near(image.pixelColor(outside, 3), accent, 30)) << c.progress;
    }
    EXPECT_FALSE(bar->isSweeping());
  }
}

TEST_F(DesignComponents, IndeterminateBarSweepsOnlyWhileShown) {
  Window window;
  auto* bar = window.add(new DSProgressBar(std::nullopt, 6));
  window.open(QSize(1040, 100));
  ASSERT_EQ(bar->width(), 1000);
  EXPECT_TRUE(bar->isSweeping());
  const QColor accent = dsColor(DSColor::accent, Scheme::Light);
  // 0.6 s into the 1.2 s cycle the band's left edge is at 0.35 of the width.
  bar->setSweepTime(600);
  EXPECT_NEAR(bar->sweepOffset(), 0.35, 1e-3);
  QImage image = snapshot(bar);
  EXPECT_FALSE(near(image.pixelColor(330, 3), accent, 30));
  EXPECT_TRUE(near(image.pixelColor(360, 3), accent));
  EXPECT_TRUE(near(image.pixelColor(640, 3), accent));
  EXPECT_FALSE(near(image.pixelColor(670, 3), accent, 30));
  // At the start the band sits just outside the left end.
  bar->setSweepTime(0);
  EXPECT_NEAR(bar->sweepOffset(), -0.3, 1e-3);
  image = snapshot(bar);
  for (int x = 4; x < 1000; x += 50) EXPECT_FALSE(near(image.pixelColor(x, 3), accent, 30)) << x;

  window.hide();
  EXPECT_FALSE(bar->isSweeping()) << "no animation runs for a hidden bar";
  window.show();
  EXPECT_TRUE(bar->isSweeping());
  bar->setProgress(0.5);
  EXPECT_FALSE(bar->isSweeping());
  EXPECT_TRUE(near(snapshot(bar).pixelColor(400, 3), accent));
}

TEST_F(DesignComponents, SpinnerGeometryAndTurn) {
  DSSpinner fourteen(14);
  EXPECT_EQ(fourteen.sizeHint(), QSize(14, 14));
  EXPECT_DOUBLE_EQ(fourteen.squareSide(), 3.5);
  const QPointF expected[] = {{14.0 / 3, 0}, {0, 14.0 / 3}, {-14.0 / 3, 0}, {0, -14.0 / 3}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(fourteen.squareOffset(i).x(), expected[i].x(), 1e-9);
    EXPECT_NEAR(fourteen.squareOffset(i).y(), expected[i].y(), 1e-9);
  }

  Window window;
  auto* spinner = window.add(new DSSpinner(40));
  window.open();
  EXPECT_TRUE(spinner->isSpinning());
  spinner->setSpinTime(200);
  EXPECT_NEAR(spinner->rotation(), 90, 1e-6);
  // A quarter turn clockwise moves the opaque square (index 3, above) to the right.
  const QColor accent = dsColor(DSColor::accent, Scheme::Light);
  EXPECT_TRUE(near(pixel(spinner, QPoint(20 + 13, 20)), accent, 6));
  EXPECT_FALSE(near(pixel(spinner, QPoint(20, 20 - 13)), accent, 6));
  window.hide();
  EXPECT_FALSE(spinner->isSpinning());
}

// Dropdown

namespace {

QList<DSDropdownOption> fourOptions() {
  return {{1, QStringLiteral("Raw")},
          {2, QStringLiteral("Tidy")},
          {3, QStringLiteral("Email")},
          {4, QStringLiteral("Custom")}};
}

}  // namespace

TEST_F(DesignComponents, DropdownShowsTheFirstMatchingLabel) {
  DSDropdown dropdown(QStringLiteral("KIND"), fourOptions(), 3);
  EXPECT_EQ(dropdown.selectedLabel(), QStringLiteral("Email"));
  dropdown.setSelection(9);
  EXPECT_EQ(dropdown.selectedLabel(), QString());
  dropdown.setOptions({{1, QStringLiteral("First")}, {1, QStringLiteral("Second")}});
  dropdown.setSelection(1);
  EXPECT_EQ(dropdown.selectedLabel(), QStringLiteral("First"));
  dropdown.setOptions({});
  EXPECT_EQ(dropdown.selectedLabel(), QString());
}

TEST_F(DesignComponents, DropdownOpensUnderItsControlAndClosesOnAPick) {
  Window window;
  auto* dropdown = window.add(new DSDropdown(QStringLiteral("TRANSFORMATION"), fourOptions(), 2));
  auto* below = window.add(new DSTextField(QStringLiteral("NAME"), QString(), QString()));
  window.layout->addStretch(1);
  QList<QVariant> picks;
  QObject::connect(dropdown, &DSDropdown::picked, [&](const QVariant& v) { picks << v; });
  window.open(QSize(400, 400));
  QWidget* control = dropdown->control();
  EXPECT_FALSE(dropdown->hasClickMonitor());

  click(control);
  ASSERT_TRUE(dropdown->isExpanded());
  EXPECT_TRUE(dropdown->hasClickMonitor());
  const QRect list = dropdown->listGeometry();
  const QRect controlRect(control->mapTo(&window, QPoint(0, 0)), control->size());
  EXPECT_EQ(list.top(), controlRect.bottom() + 1) << "hangs from the control's bottom edge";
  EXPECT_EQ(list.left(), controlRect.left());
  EXPECT_EQ(list.width(), controlRect.width());
  EXPECT_GT(list.bottom(), below->mapTo(&window, QPoint(0, 0)).y()) << "floats over what follows";
  // Four rows and three 1 px dividers: the rows repeat every (height + 1) / 4.
  const double pitch = (list.height() + 1) / 4.0;
  EXPECT_GT(pitch, 40);
  EXPECT_LT(pitch, 50);
  // The open control wears the 2 px accent border.
  ASSERT_TRUE(waitUntil(
      [&] { return near(pixel(control, QPoint(control->width() / 2, 1)), dsColor(DSColor::accent, Scheme::Light)); }));
  // Divider between the first two rows, in the list's surface.
  const QPoint dividerAt(list.center().x(), list.top() + int(pitch) - 1);
  QColor divider = window.grab().toImage().pixelColor(dividerAt);
  QColor row = window.grab().toImage().pixelColor(dividerAt - QPoint(0, 4));
  EXPECT_NE(divider.rgb(), row.rgb());

  // Picking the third row writes its value, then closes.
  QWidget* listWidget = dropdown->list();
  const QPoint third = listWidget->mapFrom(&window, QPoint(list.center().x(), list.top() + int(2.5 * pitch)));
  click(listWidget, third);
  EXPECT_EQ(picks, (QList<QVariant>{3}));
  EXPECT_EQ(dropdown->selection(), QVariant(3));
  EXPECT_EQ(dropdown->selectedLabel(), QStringLiteral("Email"));
  EXPECT_FALSE(dropdown->isExpanded());
  EXPECT_FALSE(dropdown->hasClickMonitor());

  // Picking the selected option again still reports it once.
  click(control);
  click(listWidget, third);
  EXPECT_EQ(picks, (QList<QVariant>{3, 3}));
  // A second click on the control closes an open list.
  click(control);
  click(control);
  EXPECT_FALSE(dropdown->isExpanded());
  EXPECT_FALSE(dropdown->hasClickMonitor());
}

TEST_F(DesignComponents, DropdownClosesOnClicksOutsideThatStillReachTheirTarget) {
  Window window;
  auto* toggle = window.add(new EditorialToggleButton(false));
  auto* first = window.add(new DSDropdown(QStringLiteral("FIRST"), fourOptions(), 1));
  window.layout->addStretch(1);
  auto* second = window.add(new DSDropdown(QStringLiteral("SECOND"), fourOptions(), 1));
  Window other;
  auto* elsewhere = other.add(new EditorialToggleButton(false));
  window.open(QSize(400, 600));
  other.open(QSize(200, 100));
  other.move(window.geometry().topLeft());

  // Left click outside: closes, and the toggle under the pointer flips.
  click(first->control());
  ASSERT_TRUE(first->isExpanded());
  click(toggle);
  EXPECT_FALSE(first->isExpanded());
  EXPECT_FALSE(first->hasClickMonitor());
  EXPECT_TRUE(toggle->isOn());

  // Right click: inside does nothing, outside closes.
  click(first->control());
  click(first->control(), first->control()->rect().center(), Qt::RightButton);
  EXPECT_TRUE(first->isExpanded());
  click(toggle, QPoint(2, 2), Qt::RightButton);
  EXPECT_FALSE(first->isExpanded());

  // Another window of the application, even over the same spot.
  click(first->control());
  click(elsewhere);
  EXPECT_FALSE(first->isExpanded());
  EXPECT_TRUE(elsewhere->isOn());

  // The second dropdown's control closes the first and opens itself.
  click(first->control());
  click(second->control());
  EXPECT_FALSE(first->isExpanded());
  EXPECT_TRUE(second->isExpanded());
  EXPECT_FALSE(first->hasClickMonitor());

  // The list's shadow takes no clicks: a toggle just below the list gets its click.
  click(first->control());
  const QRect list = first->listGeometry();
  click(first->control());
  auto* underShadow = new EditorialToggleButton(false, &window);
  underShadow->move(list.left() + 20, list.bottom() + 6);
  underShadow->show();
  click(first->control());
  ASSERT_TRUE(first->isExpanded());
  click(underShadow, QPoint(10, 4));
  EXPECT_FALSE(first->isExpanded());
  EXPECT_TRUE(underShadow->isOn());

  // Leaving the screen while open leaves no monitor behind.
  second->hide();
  EXPECT_FALSE(second->isExpanded());
  EXPECT_FALSE(second->hasClickMonitor());
  EXPECT_FALSE(second->list() && second->list()->isVisible());
}

// Text field

TEST_F(DesignComponents, TextFieldBorderFollowsFocusAndNothingElseMoves) {
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    Window window(scheme);
    auto* taker = window.add(new QLineEdit);  // takes the window's first focus
    auto* first = window.add(new DSTextField(QStringLiteral("NAME"), QStringLiteral("e.g. Email"), QString()));
    auto* second = window.add(new DSTextField(QStringLiteral("OTHER"), QString(), QString()));
    window.open();
    window.activate();
    ASSERT_TRUE(waitUntil([&] { return taker->hasFocus(); }));
    QWidget* box = first->lineEdit()->parentWidget();
    const QSize size = box->size();
    const QColor raised = dsColor(DSColor::surfaceRaised, scheme);
    const QColor accent = dsColor(DSColor::accent, scheme);
    const int x = box->width() / 2;
    EXPECT_TRUE(near(pixel(box, QPoint(x, 0)), over(dsColor(DSColor::hairline, scheme), raised)));
    EXPECT_TRUE(near(pixel(box, QPoint(x, 1)), raised));
    EXPECT_EQ(first->lineEdit()->palette().color(QPalette::PlaceholderText), [&] {
      QColor c = dsColor(DSColor::inkSecondary, scheme);
      c.setAlphaF(0.5f);
      return c;
    }());

    first->lineEdit()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitUntil([&] { return first->isFocused(); }));
    EXPECT_TRUE(near(pixel(box, QPoint(x, 0)), accent));
    EXPECT_TRUE(near(pixel(box, QPoint(x, 1)), accent));
    EXPECT_TRUE(near(pixel(box, QPoint(4, box->height() / 2)), raised)) << "fill unchanged";
    EXPECT_EQ(box->size(), size);

    QTest::keyClicks(first->lineEdit(), QStringLiteral("Mail"));
    EXPECT_EQ(first->text(), QStringLiteral("Mail"));
    QTest::keyClick(first->lineEdit(), Qt::Key_Tab);
    ASSERT_TRUE(waitUntil([&] { return second->isFocused(); }));
    EXPECT_TRUE(near(pixel(box, QPoint(x, 1)), raised));
  }
}

TEST_F(DesignComponents, DropdownAndTextFieldBoxesLineUp) {
  Window window;
  auto* dropdown = window.add(new DSDropdown(QStringLiteral("KIND"), fourOptions(), 1));
  auto* field = window.add(new DSTextField(QStringLiteral("NAME"), QString(), QStringLiteral("Raw")));
  window.open();
  EXPECT_EQ(dropdown->control()->height(), field->lineEdit()->parentWidget()->height());
  EXPECT_EQ(dropdown->control()->width(), field->lineEdit()->parentWidget()->width());
}

// Settings kit

TEST_F(DesignComponents, PageLayoutInsetsItsColumnAndFadesInOnce) {
  Window window;
  window.layout->setContentsMargins(0, 0, 0, 0);
  auto* page = window.add(new SettingsPageLayout);
  auto* content = new QWidget;
  content->setFixedHeight(50);
  page->addContent(content);
  EXPECT_FALSE(page->appeared());
  EXPECT_EQ(page->entranceProgress(), 0.0);
  window.open(QSize(600, 400));
  EXPECT_TRUE(page->appeared());
  ASSERT_TRUE(waitUntil([&] { return page->entranceProgress() == 1.0; }));
  QCoreApplication::processEvents();
  const QPoint at = content->mapTo(page->widget(), QPoint(0, 0));
  EXPECT_EQ(at, QPoint(48, 32));
  EXPECT_EQ(content->width(), 600 - 96);
  EXPECT_EQ(page->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(page->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(page->graphicsEffect(), nullptr) << "at rest the page draws directly";

  // Content taller than the window scrolls; at least 80 px follow the content.
  auto* tall = new QWidget;
  tall->setFixedHeight(900);
  page->addContent(tall);
  const int expected = 32 + 50 + 900 + 80 - page->viewport()->height();
  EXPECT_TRUE(waitUntil([&] { return page->verticalScrollBar()->maximum() == expected; }))
      << page->verticalScrollBar()->maximum() << " != " << expected;
}

// A scroll step moves what is already drawn and paints only what comes into
// view; a page that repainted all it shows at every step was slow to scroll.
TEST_F(DesignComponents, PageLayoutScrollPaintsOnlyTheStripThatComesIntoView) {
  class Probe : public QWidget {
   public:
    int paints = 0;

   protected:
    void paintEvent(QPaintEvent*) override {
      ++paints;
      QPainter(this).fillRect(rect(), dsColor(DSColor::hairline, this));
    }
  };
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    Window window(scheme);
    window.layout->setContentsMargins(0, 0, 0, 0);
    auto* page = window.add(new SettingsPageLayout);
    QList<Probe*> probes;
    for (int i = 0; i < 30; ++i) {
      auto* probe = new Probe;
      probe->setFixedHeight(40);
      page->addContent(probe);
      probes.append(probe);
    }
    window.open(QSize(400, 300));
    ASSERT_TRUE(waitUntil([&] { return page->entranceProgress() == 1.0; }));
    QCoreApplication::processEvents();
    const QColor background = dsColor(DSColor::background, scheme);
    // Between two probes and in the side insets the page shows the window's background.
    EXPECT_TRUE(near(pixel(page->viewport(), QPoint(10, 100)), background, 0));

    constexpr int kStep = 60;
    QScrollBar* bar = page->verticalScrollBar();
    bar->setValue(kStep);
    QCoreApplication::processEvents();  // the repaint
    for (int step = 2; step <= 3; ++step) {
      for (Probe* probe : probes) probe->paints = 0;
      bar->setValue(step * kStep);
      QCoreApplication::processEvents();
      const int viewportHeight = page->viewport()->height();
      for (Probe* probe : probes) {
        const QRect shown(probe->mapTo(page->viewport(), QPoint(0, 0)), probe->size());
        if (shown.bottom() < 0 || shown.top() >= viewportHeight) continue;
        const bool wasShown = shown.translated(0, kStep).bottom() < viewportHeight;
        if (wasShown)
          EXPECT_EQ(probe->paints, 0) << "probe at " << shown.top() << " was already drawn";
        else
          EXPECT_GE(probe->paints, 1) << "probe at " << shown.top() << " comes into view";
      }
      EXPECT_TRUE(near(pixel(page->viewport(), QPoint(10, viewportHeight - 10)), background, 0));
    }
  }
}

// The icon of an action button changes by a cross-fade: the old icon fades out
// while the new one fades in and the ring passes from one colour to the other.
TEST_F(DesignComponents, ActionButtonIconChangeCrossFades) {
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    Window window(scheme);
    auto* strip = new QWidget;
    auto* row = new QHBoxLayout(strip);
    auto* button =
        new SettingsActionButton(QStringLiteral("doc.on.doc"), std::nullopt, true, QStringLiteral("Copy"), {});
    // The two looks at rest, for reference.
    auto* plain =
        new SettingsActionButton(QStringLiteral("doc.on.doc"), std::nullopt, true, QStringLiteral("Copy"), {});
    auto* marked =
        new SettingsActionButton(QStringLiteral("checkmark"), DSColor::success, true, QStringLiteral("Copy"), {});
    for (auto* b : {button, plain, marked}) row->addWidget(b);
    row->addStretch(1);
    window.add(strip);
    window.open();
    const QImage before = snapshot(plain);
    const QImage after = snapshot(marked);
    ASSERT_NE(before, after);
    ASSERT_EQ(snapshot(button), before);
    const QColor ringBefore = pixel(plain, QPoint(14, 0));
    const QColor ringAfter = pixel(marked, QPoint(14, 0));

    button->setIcon(QStringLiteral("checkmark"), DSColor::success, Motion::kHover);
    EXPECT_EQ(button->iconName(), QStringLiteral("checkmark"));
    EXPECT_EQ(button->accentColor(), DSColor::success);
    QVariantAnimation* fade = button->iconSwap()->animation();
    ASSERT_EQ(fade->state(), QAbstractAnimation::Running);
    EXPECT_EQ(fade->duration(), Motion::kHover);
    EXPECT_EQ(fade->easingCurve(), Motion::easeOut());
    fade->pause();
    EXPECT_EQ(snapshot(button), before) << "it starts from the old look";

    fade->setCurrentTime(Motion::kHover / 2);
    EXPECT_NEAR(button->iconSwap()->value(), Motion::easeOut().valueForProgress(0.5), 1e-3);
    const QImage middle = snapshot(button);
    EXPECT_NE(middle, before);
    EXPECT_NE(middle, after);
    const QColor ring = pixel(button, QPoint(14, 0));
    EXPECT_FALSE(near(ring, ringBefore, 8));
    EXPECT_FALSE(near(ring, ringAfter, 8));
    for (auto channel : {&QColor::red, &QColor::green, &QColor::blue}) {
      EXPECT_GE((ring.*channel)(), std::min((ringBefore.*channel)(), (ringAfter.*channel)()) - 3);
      EXPECT_LE((ring.*channel)(), std::max((ringBefore.*channel)(), (ringAfter.*channel)()) + 3);
    }

    fade->setCurrentTime(Motion::kHover);
    EXPECT_EQ(fade->state(), QAbstractAnimation::Stopped);
    EXPECT_EQ(button->iconSwap()->value(), 1.0);
    EXPECT_EQ(snapshot(button), after);

    // The same icon and colour again change nothing; without a fade the change is immediate.
    button->setIcon(QStringLiteral("checkmark"), DSColor::success, Motion::kHover);
    EXPECT_FALSE(button->iconSwap()->isRunning());
    button->setIcon(QStringLiteral("doc.on.doc"), std::nullopt);
    EXPECT_FALSE(button->iconSwap()->isRunning());
    EXPECT_EQ(snapshot(button), before);
  }
}

TEST_F(DesignComponents, HeaderAndCardLabelKeepTheirSpacing) {
  SettingsCompactHeader header(QStringLiteral("Configuration"));
  SettingsCardLabel label(QStringLiteral("lower case stays"));
  EXPECT_EQ(header.sizeHint().height(), header.titleLabel()->sizeHint().height() + 20);
  EXPECT_EQ(label.textLabel()->text(), QStringLiteral("lower case stays"));
  EXPECT_EQ(label.sizeHint().height(), label.textLabel()->sizeHint().height() + 8);
  EXPECT_EQ(label.sizeHint().width(), label.textLabel()->sizeHint().width() + 4);

  // A long title wraps with its line spacing and keeps the 20 px below its last line.
  SettingsCompactHeader longHeader(QStringLiteral("A page title long enough to need several lines"));
  const int oneLine = longHeader.titleLabel()->sizeHint().height();
  const int wrapped = longHeader.titleLabel()->heightForWidth(160);
  const qreal lineHeight = QFontMetricsF(dsFont(DSFont::heading)).height();
  EXPECT_GE(wrapped, int(3 * lineHeight + 2 * 2));
  EXPECT_EQ(longHeader.heightForWidth(160), wrapped + 20);
  EXPECT_GT(wrapped, oneLine);
}

TEST_F(DesignComponents, CardRulesFollowRowVisibility) {
  Window window;
  auto* card = window.add(new SettingsCard);
  QList<QWidget*> rows;
  for (int i = 0; i < 3; ++i) {
    auto* row = new QWidget;
    row->setFixedHeight(40);
    card->addRow(row);
    rows << row;
  }
  window.layout->addStretch(1);
  window.open(QSize(340, 300));
  ASSERT_EQ(card->width(), 300);
  QList<QRect> rules = card->ruleRects();
  ASSERT_EQ(rules.size(), 2);
  EXPECT_EQ(rules[0], QRect(20, 40, 260, 1));
  EXPECT_EQ(rules[1], QRect(20, 81, 260, 1));
  EXPECT_EQ(card->height(), 122);
  const QColor surface = dsColor(DSColor::surface, Scheme::Light);
  EXPECT_TRUE(near(pixel(card, QPoint(150, 40)), over(dsColor(DSColor::hairline, Scheme::Light), surface)));
  EXPECT_TRUE(near(pixel(card, QPoint(10, 40)), surface)) << "rules stop 20 px short of the sides";

  rows[2]->hide();
  EXPECT_TRUE(waitUntil([&] { return card->height() == 81; }));
  ASSERT_EQ(card->ruleRects().size(), 1);
  rows[0]->hide();
  QCoreApplication::processEvents();
  EXPECT_TRUE(card->ruleRects().isEmpty());

  SettingsCard empty;
  EXPECT_TRUE(empty.ruleRects().isEmpty());
}

// A row with a background of its own (a hovered or selected look) is cut at the
// card's rounded corners, and the outline stays on top of it.
TEST_F(DesignComponents, CardClipsItsRowsToTheRoundedCorners) {
  class Filled final : public QWidget {
   protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::red); }
  };
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    Window window(scheme);
    auto* card = window.add(new SettingsCard);
    QList<QWidget*> rows;
    for (int i = 0; i < 3; ++i) {
      auto* row = new Filled;
      row->setFixedHeight(40);
      card->addRow(row);
      rows << row;
    }
    window.layout->addStretch(1);
    window.open(QSize(340, 300));
    const QColor background = dsColor(DSColor::background, scheme);
    const QColor hairline = dsColor(DSColor::hairline, scheme);
    const int bottom = card->height() - 1, right = card->width() - 1;
    for (const QPoint corner : {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
      EXPECT_TRUE(near(pixel(card, corner), background)) << corner.x() << "," << corner.y();
    EXPECT_TRUE(near(pixel(card, QPoint(150, 20)), Qt::red)) << "inside, the row paints itself";
    EXPECT_TRUE(near(pixel(card, QPoint(0, 60)), over(hairline, Qt::red))) << "the outline lies over the rows";
    // The middle row touches no corner: it is left unmasked.
    EXPECT_TRUE(rows[1]->mask().isEmpty());
    EXPECT_FALSE(rows[0]->mask().isEmpty());
    // A corner row's mask is exactly the card's outline over that row.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(card->rect()), 10, 10);
    const QRegion cardShape(outline.toFillPolygon().toPolygon(), Qt::WindingFill);
    for (QWidget* row : {rows[0], rows[2]})
      EXPECT_EQ(row->mask(), cardShape.translated(-row->pos()).intersected(QRect(QPoint(0, 0), row->size())));

    // Rows that move into a corner are cut there too.
    rows[0]->hide();
    ASSERT_TRUE(waitUntil([&] { return !rows[1]->mask().isEmpty(); }));
    EXPECT_TRUE(near(pixel(card, QPoint(0, 0)), background));
  }
}

TEST_F(DesignComponents, RowsKeepTheirInsetsAndTitleColours) {
  Window window;
  auto* card = window.add(new SettingsCard);
  auto* trailing = new EditorialToggleButton(true);
  auto* row = new SettingsRow(QStringLiteral("Title"), std::nullopt, false, trailing);
  int taps = 0;
  auto* chapter = new SettingsChapterRow(
      2, QStringLiteral("Chapter"), QStringLiteral("Detail"), true, [&] { ++taps; }, new QWidget);
  auto* quiet = new SettingsChapterRow(3, QStringLiteral("Quiet"), std::nullopt, false, nullptr, nullptr);
  auto* empty = new SettingsEmptyRow(QStringLiteral("Nothing yet"), QStringLiteral("Add one"));
  for (QWidget* w : {static_cast<QWidget*>(row), static_cast<QWidget*>(chapter), static_cast<QWidget*>(quiet),
                     static_cast<QWidget*>(empty)})
    card->addRow(w);
  window.open(QSize(500, 600));

  EXPECT_EQ(row->titleLabel()->mapTo(row, QPoint(0, 0)).x(), 20);
  EXPECT_EQ(trailing->mapTo(row, QPoint(0, 0)).x() + trailing->width(), row->width() - 20);
  EXPECT_NEAR(trailing->geometry().center().y(), row->height() / 2, 1) << "centred vertically";
  EXPECT_EQ(row->titleLabel()->style().color, DSColor::ink);
  row->setActive(true);
  EXPECT_EQ(row->titleLabel()->style().color, DSColor::accent);

  EXPECT_EQ(chapter->numeral()->mapTo(chapter, QPoint(0, 0)), QPoint(0, 20)) << "no side inset, top aligned";
  EXPECT_TRUE(chapter->numeral()->isActive());
  EXPECT_EQ(chapter->titleLabel()->style().color, DSColor::accent);
  // A click in the gap between numeral and text counts.
  click(chapter, QPoint(44 + 10, chapter->height() / 2));
  EXPECT_EQ(taps, 1);
  click(quiet, QPoint(44 + 10, quiet->height() / 2));
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(empty->findChild<EditorialChapterNumeral*>()->text(), QStringLiteral("00"));
  EXPECT_EQ(empty->findChild<EditorialChapterNumeral*>()->mapTo(empty, QPoint(0, 0)), QPoint(20, 20));
}

TEST_F(DesignComponents, InvisibleActionButtonKeepsItsPlaceButTakesNoClicksOrFocus) {
  Window window;
  auto* strip = new QWidget;
  auto* row = new QHBoxLayout(strip);
  int a = 0, hidden = 0, b = 0;
  auto* before =
      new SettingsActionButton(QStringLiteral("pencil"), std::nullopt, true, QStringLiteral("Edit"), [&] { ++a; });
  auto* ghost = new SettingsActionButton(QStringLiteral("trash"), DSColor::danger, false, QStringLiteral("Delete"),
                                         [&] { ++hidden; });
  auto* after =
      new SettingsActionButton(QStringLiteral("doc.on.doc"), std::nullopt, true, QStringLiteral("Copy"), [&] { ++b; });
  for (auto* button : {before, ghost, after}) row->addWidget(button);
  row->addStretch(1);
  window.add(strip);
  window.open();
  window.activate();
  EXPECT_EQ(ghost->size(), QSize(28, 28));
  EXPECT_EQ(ghost->accessibleName(), QStringLiteral("Delete"));

  click(ghost);
  EXPECT_EQ(hidden, 0);
  // Nothing of it is drawn.
  EXPECT_TRUE(near(pixel(ghost, QPoint(14, 0)), dsColor(DSColor::background, Scheme::Light), 0));

  before->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(waitUntil([&] { return before->hasFocus(); }));
  QTest::keyClick(before, Qt::Key_Tab);
  EXPECT_TRUE(after->hasFocus()) << "Tab skips the invisible button";
  QTest::keyClick(after, Qt::Key_Space);
  EXPECT_EQ(b, 1);
  // Even sent straight to it, Space does nothing.
  QTest::keyClick(ghost, Qt::Key_Space);
  EXPECT_EQ(hidden, 0);

  ghost->setShown(true);
  EXPECT_EQ(ghost->size(), QSize(28, 28));
  before->setFocus(Qt::TabFocusReason);
  QTest::keyClick(before, Qt::Key_Tab);
  EXPECT_TRUE(ghost->hasFocus());
  QTest::keyClick(ghost, Qt::Key_Space);
  click(ghost);
  EXPECT_EQ(hidden, 2);
  // Its ring and icon are in the accent colour; clicks in the square's corner miss.
  click(ghost, QPoint(1, 1));
  EXPECT_EQ(hidden, 2);
  EXPECT_TRUE(near(pixel(ghost, QPoint(14, 0)), dsColor(DSColor::danger, Scheme::Light), 60));
}

TEST_F(DesignComponents, InlineFormButtonsAndFieldTakeNoKeyboardShortcuts) {
  murel::test::FakeClock clock;
  Window window;
  // Takes the window's first focus, so the field's own request is what moves it.
  auto* first = window.add(new QLineEdit);
  auto* form = new QWidget;
  auto* row = new QHBoxLayout(form);
  int confirms = 0, cancels = 0;
  auto* field = new SettingsInlineField(QStringLiteral("original"), QString(), false, true, clock);
  auto* buttons = new SettingsInlineFormButtons([&] { ++confirms; }, [&] { ++cancels; });
  row->addWidget(field);
  row->addWidget(buttons);
  window.add(form);
  window.open();
  window.activate();
  ASSERT_TRUE(waitUntil([&] { return first->hasFocus(); }));

  EXPECT_EQ(buttons->width(), 80);
  EXPECT_EQ(buttons->cancelButton()->geometry().left(), buttons->confirmButton()->geometry().right() + 1 + 8);
  EXPECT_EQ(buttons->cancelButton()->geometry().right() + 1, 80);
  EXPECT_EQ(buttons->confirmButton()->accessibleName(), QStringLiteral("Save"));
  EXPECT_EQ(buttons->cancelButton()->accessibleName(), QStringLiteral("Cancel"));

  // Autofocus 50 ms after it comes on screen, then the underline thickens.
  EXPECT_FALSE(field->isFocused());
  EXPECT_EQ(field->underlineThickness(), 1.0);
  clock.advance(std::chrono::milliseconds(49));
  EXPECT_FALSE(field->isFocused());
  clock.advance(std::chrono::milliseconds(1));
  ASSERT_TRUE(waitUntil([&] { return field->isFocused(); }));
  ASSERT_TRUE(waitUntil([&] { return field->underlineThickness() == 2.0; }));
  EXPECT_TRUE(
      near(pixel(field, QPoint(field->width() / 2, field->height() - 2)), dsColor(DSColor::accent, Scheme::Light)));

  QTest::keyClicks(field->editor(), QStringLiteral("teh"));
  QTest::keyClick(field->editor(), Qt::Key_Return);
  QTest::keyClick(field->editor(), Qt::Key_Escape);
  EXPECT_EQ(field->text(), QStringLiteral("teh"));
  EXPECT_EQ(confirms + cancels, 0);
  click(buttons->confirmButton());
  click(buttons->cancelButton());
  EXPECT_EQ(confirms, 1);
  EXPECT_EQ(cancels, 1);
}

TEST_F(DesignComponents, InlineFieldWithoutAutofocusWaitsAndMultilineGrowsFromThreeToTenLines) {
  murel::test::FakeClock clock;
  Window window;
  auto* first = window.add(new QLineEdit);
  auto* single = window.add(new SettingsInlineField(QStringLiteral("x"), QString(), false, false, clock));
  auto* multi = window.add(new SettingsInlineField(QStringLiteral("expansion"), QString(), true, false, clock));
  window.open(QSize(400, 500));
  window.activate();
  ASSERT_TRUE(waitUntil([&] { return first->hasFocus(); }));
  EXPECT_EQ(clock.pendingCount(), 0u);
  EXPECT_FALSE(single->isFocused());
  EXPECT_EQ(multi->visibleLineCount(), 3);
  multi->setText(QStringLiteral("1\n2\n3\n4\n5"));
  EXPECT_EQ(multi->visibleLineCount(), 5);
  QStringList many;
  for (int i = 0; i < 14; ++i) many << QString::number(i);
  multi->setText(many.join(QLatin1Char('\n')));
  EXPECT_EQ(multi->visibleLineCount(), 10);
}
