// The onboarding button style in a real window: its looks by pixel, pressed
// with the rig's pointer, and the whole padded rectangle taking clicks.
#include "design/Appearance.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Tokens.h"
#include "runtime/Localization.h"
#include "support/OnboardingRig.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

using namespace murel;
using murel::test::OnboardingRig;
using murel::test::waitUntil;
using Scheme = Appearance::Scheme;

namespace {

class Page : public QWidget {
 public:
  explicit Page(Scheme scheme) { Appearance::setOverride(this, scheme); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), dsColor(DSColor::background, this));
  }
};

bool near(const QColor& a, const QColor& b, int tolerance = 3) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

std::string describe(const QColor& c) { return c.name().toStdString(); }

// The first row and column (from the top and from the left, through the
// middle) whose pixel is the accent fill: where the drawn button begins.
QPoint fillStart(const QImage& image, const QColor& fill) {
  QPoint start(-1, -1);
  for (int x = 0; x < image.width() && start.x() < 0; ++x)
    if (near(image.pixelColor(x, image.height() / 2), fill, 8)) start.setX(x);
  for (int y = 0; y < image.height() && start.y() < 0; ++y)
    if (near(image.pixelColor(image.width() / 2, y), fill, 8)) start.setY(y);
  return start;
}

class OnboardingButton : public ::testing::TestWithParam<Scheme> {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override {
    ASSERT_TRUE(OnboardingRig::movePointerAway());
    auto* row = new QHBoxLayout(&page);
    row->setContentsMargins(20, 20, 20, 20);
    row->setSpacing(20);
    for (auto* button : {primary, disabled, secondary}) row->addWidget(button);
    disabled->setEnabled(false);
    page.move(40, 40);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  }
  QImage shot(const QWidget* button) {
    const QString name =
        QStringLiteral("button-%1-%2")
            .arg(button->objectName(), GetParam() == Scheme::Light ? QStringLiteral("light") : QStringLiteral("dark"));
    const QImage image = page.grab(button->geometry()).toImage();
    image.save(OnboardingRig::screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
    return image;
  }
  QColor token(DSColor color) const { return dsColor(color, GetParam()); }

  Page page{GetParam()};
  OnboardingButtonStyle* primary = named(new OnboardingButtonStyle(QStringLiteral("NEXT →"), true), "primary");
  OnboardingButtonStyle* disabled = named(new OnboardingButtonStyle(QStringLiteral("NEXT →"), true), "disabled");
  OnboardingButtonStyle* secondary = named(new OnboardingButtonStyle(QStringLiteral("← BACK"), false), "secondary");

 private:
  static OnboardingButtonStyle* named(OnboardingButtonStyle* button, const char* name) {
    button->setObjectName(QString::fromLatin1(name));
    return button;
  }
};

TEST_P(OnboardingButton, LooksByKindAndState) {
  EXPECT_EQ(primary->sizeHint().height(), secondary->sizeHint().height());
  ASSERT_TRUE(waitUntil([&] { return disabled->enabledOpacity() == OnboardingButtonStyle::kDisabledOpacity; }));
  const QColor page = token(DSColor::background);
  const QColor accent = token(DSColor::accent);
  // A spot inside the fill, left of the label (the padding is 20 px).
  const QPoint inside(8, primary->height() / 2);

  const QImage filled = shot(primary);
  EXPECT_TRUE(near(filled.pixelColor(inside), accent)) << describe(filled.pixelColor(inside));
  const QImage faded = shot(disabled);
  const QColor half = mixColors(page, accent, 0.5);
  EXPECT_TRUE(near(faded.pixelColor(inside), half)) << describe(faded.pixelColor(inside)) << " vs " << describe(half);

  // The secondary button draws no fill, only its outline in 30 % ink.
  const QImage outlined = shot(secondary);
  EXPECT_TRUE(near(outlined.pixelColor(inside), page)) << describe(outlined.pixelColor(inside));
  const QColor edge = outlined.pixelColor(0, secondary->height() / 2);
  const QColor outline = mixColors(page, token(DSColor::ink), 0.3);
  EXPECT_TRUE(near(edge, outline, 6)) << describe(edge) << " vs " << describe(outline);

  // Enabled again, it fades back to full opacity.
  disabled->setEnabled(true);
  EXPECT_LT(disabled->enabledOpacity(), 1.0);
  EXPECT_TRUE(waitUntil([&] { return disabled->enabledOpacity() == 1.0; }));
}

TEST_P(OnboardingButton, ShrinksAndDropsWhilePressedAndClicksAnywhereInside) {
  int clicks = 0;
  QObject::connect(primary, &QAbstractButton::clicked, [&] { ++clicks; });
  const QColor accent = token(DSColor::accent);
  const QPoint rest = fillStart(shot(primary), accent);
  EXPECT_EQ(rest, QPoint(0, 0));

  const QPoint centre = primary->mapToGlobal(primary->rect().center());
  ASSERT_TRUE(murel::test::xdotool({QStringLiteral("mousemove"), QString::number(centre.x()),
                                    QString::number(centre.y()), QStringLiteral("mousedown"), QStringLiteral("1")}));
  ASSERT_TRUE(waitUntil([&] { return primary->pressProgress() == 1.0; }));
  const QPoint pressed = fillStart(shot(primary), accent);
  // 97 % about the centre moves each edge in by 1.5 % of the size; the
  // bottom-ward drop adds 1 px at the top.
  EXPECT_NEAR(pressed.x(), primary->width() * 0.015, 1.0);
  EXPECT_NEAR(pressed.y(), primary->height() * 0.015 + 1, 1.0);
  ASSERT_TRUE(murel::test::xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
  ASSERT_TRUE(waitUntil([&] { return clicks == 1; }));
  EXPECT_TRUE(waitUntil([&] { return primary->pressProgress() == 0.0; }));

  // The corners of the padding take clicks too, on either kind.
  for (OnboardingButtonStyle* button : {primary, secondary}) {
    int hits = 0;
    QObject::connect(button, &QAbstractButton::clicked, [&] { ++hits; });
    ASSERT_TRUE(OnboardingRig::click(button, QPoint(2, 2)));
    ASSERT_TRUE(OnboardingRig::click(button, QPoint(button->width() - 3, button->height() - 3)));
    EXPECT_TRUE(waitUntil([&] { return hits == 2; })) << button->objectName().toStdString();
  }
  // A disabled button takes none.
  int ignored = 0;
  QObject::connect(disabled, &QAbstractButton::clicked, [&] { ++ignored; });
  ASSERT_TRUE(OnboardingRig::click(disabled));
  QTest::qWait(100);
  EXPECT_EQ(ignored, 0);
}

INSTANTIATE_TEST_SUITE_P(Appearances, OnboardingButton, ::testing::Values(Scheme::Light, Scheme::Dark),
                         [](const auto& info) { return info.param == Scheme::Light ? "light" : "dark"; });

}  // namespace
