// The onboarding window in a design-preview run: every step in its final look
// at once, rendered in light and dark to build/screenshots/onboarding/, and no
// raw text id anywhere on screen.
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Tokens.h"
#include "onboarding/CompletionView.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/WelcomeView.h"
#include "runtime/Localization.h"
#include "support/FakeClock.h"
#include "support/OnboardingRig.h"
#include "support/TestEnv.h"

#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;
using murel::test::FakeClock;
using murel::test::OnboardingRig;
using Scheme = Appearance::Scheme;

namespace {

class OnboardingPreview : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override {
    ASSERT_TRUE(isRunningForPreviews()) << "run with XCODE_RUNNING_FOR_PREVIEWS=1";
    ASSERT_TRUE(OnboardingRig::movePointerAway());
  }
  FakeClock clock;
  OnboardingRig rig{clock};
};

// How often the page colour fills a row of pixels: a rough check that the
// picture is the page with something drawn on it, in the right appearance.
double pageShare(const QImage& image, Scheme scheme) {
  const QColor page = dsColor(DSColor::background, scheme);
  int hits = 0, total = 0;
  for (int y = 0; y < image.height(); y += 7)
    for (int x = 0; x < image.width(); x += 7) {
      ++total;
      if (image.pixelColor(x, y).rgb() == page.rgb()) ++hits;
    }
  return double(hits) / total;
}

TEST_F(OnboardingPreview, EveryStepShowsItsFinalLookInLightAndDark) {
  const struct {
    int step;
    const char* name;
  } shots[] = {{0, "welcome"}, {1, "permissions"}, {2, "microphone"},
               {3, "hotkey"},  {4, "placeholder"}, {6, "completion"}};
  for (const auto& shot : shots) {
    SCOPED_TRACE(shot.name);
    ASSERT_TRUE(rig.open(shot.step));
    const auto [light, dark] = rig.screenshots(QString::fromLatin1(shot.name));
    ASSERT_EQ(light.size(), QSize(800, 600));
    EXPECT_GT(pageShare(light, Scheme::Light), 0.6);
    EXPECT_LT(pageShare(light, Scheme::Light), 0.995);
    EXPECT_GT(pageShare(dark, Scheme::Dark), 0.6);
  }
  // The completion step starts revealed; its reveal changes nothing.
  auto* completion = qobject_cast<CompletionView*>(rig.container().currentStepView());
  ASSERT_NE(completion, nullptr);
  EXPECT_TRUE(completion->titleRevealed() && completion->stripeVisible() && completion->detailsVisible());
  EXPECT_EQ(completion->startButton()->opacity(), 1.0);
  clock.advance(1s);
  EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(OnboardingPreview, CarouselNeverTurnsByItself) {
  ASSERT_TRUE(rig.open());
  auto* welcome = qobject_cast<WelcomeView*>(rig.container().currentStepView());
  ASSERT_NE(welcome, nullptr);
  EXPECT_EQ(clock.pendingCount(), 0u);
  clock.advance(60s);
  EXPECT_EQ(welcome->index(), 0);
  // The chevrons still work.
  ASSERT_TRUE(OnboardingRig::click(welcome->nextButton()));
  ASSERT_TRUE(murel::test::waitUntil([&] { return welcome->index() == 1; }));
  EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(OnboardingPreview, NoScreenShowsARawTextId) {
  // An id looks like "welcome.message.1.headline"; a text never does.
  const QRegularExpression id(QStringLiteral("^[A-Za-z0-9_]+(\\.[A-Za-z0-9_]+)+$"));
  for (int step = 0; step < 7; ++step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(rig.open(step));
    const QStringList texts = rig.visibleTexts();
    EXPECT_GE(texts.size(), 3) << texts.join(QStringLiteral(" | ")).toStdString();
    for (const QString& text : texts) EXPECT_FALSE(id.match(text).hasMatch()) << text.toStdString();
    // Only this desktop's words: no other platform named.
    for (const QString& text : texts)
      for (const char* word : {"Mac", "macOS", "menu bar", "System Settings"})
        EXPECT_FALSE(text.contains(QLatin1String(word))) << text.toStdString();
  }
  rig.open(0);
  const QStringList welcome = rig.visibleTexts();
  for (const char* expected : {"welcome to", "Murel", "BEGIN →", "Stop typing.\nStart talking."})
    EXPECT_TRUE(welcome.contains(QString::fromUtf8(expected))) << expected;
}

}  // namespace
