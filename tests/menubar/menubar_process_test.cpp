// The tray panel of the application as a process: a private session bus with a
// tray watcher, the icon activated over D-Bus the way a desktop's tray does,
// and the panel's rows clicked with the real pointer.
#include "../app/AppProcessRig.h"

#include "design/Tokens.h"
#include "menubar/MenuBarRows.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QDBusMessage>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;

namespace {

// xwininfo's absolute geometry of a window.
QRect geometryOf(const QString& window) {
  QProcess info;
  info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
  info.waitForFinished(5000);
  int x = 0, y = 0, w = 0, h = 0;
  for (const QString& line : QString::fromLatin1(info.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QString t = line.trimmed();
    const int value = t.section(QLatin1Char(':'), 1).trimmed().toInt();
    if (t.startsWith(QLatin1String("Absolute upper-left X"))) x = value;
    if (t.startsWith(QLatin1String("Absolute upper-left Y"))) y = value;
    if (t.startsWith(QLatin1String("Width"))) w = value;
    if (t.startsWith(QLatin1String("Height"))) h = value;
  }
  return QRect(x, y, w, h);
}

class TrayPanelProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Fonts::registerBundled(); }
  void SetUp() override {
    const QString root = test::freshDir(
        QStringLiteral("tray-") + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    home_.root = root + QStringLiteral("/home");
    bus_ = std::make_unique<apprig::PrivateBus>(root + QStringLiteral("/bus"));
    ASSERT_TRUE(bus_->connection().isConnected());
    watcher_ = std::make_unique<apprig::FakeTrayWatcher>(bus_->connection());
    // The panel opens under the pointer when the tray gives no icon position.
    test::xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("120")});
  }
  void TearDown() override {
    if (app_ && app_->state() != QProcess::NotRunning) {
      app_->kill();
      app_->waitForFinished(5000);
    }
  }

  void launch() {
    app_ = apprig::startApp(test::buildDir() + QStringLiteral("/bin/murel"), home_, bus_->address());
    ASSERT_TRUE(apprig::pump([&] { return !watcher_->items().isEmpty(); }, 10s)) << "no tray icon registered";
  }
  QStringList panels() const { return apprig::mappedWindows(app_->processId(), QStringLiteral("Murel$")); }
  // What the tray does on a click on the icon.
  void activate() {
    const QString item = watcher_->items().constLast();
    const QString service = item.section(QLatin1Char('/'), 0, 0);
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    call << 0 << 0;
    const QDBusMessage reply = bus_->connection().call(call, QDBus::Block, 5000);
    EXPECT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
  }
  // Opens the panel and returns its geometry.
  QRect openPanel() {
    activate();
    QStringList shown;
    EXPECT_TRUE(apprig::pump(
        [&] {
          shown = panels();
          return shown.size() == 1;
        },
        10s))
        << "windows: " << shown.join(',').toStdString();
    if (shown.size() != 1) return {};
    apprig::pump([] { return false; }, 300ms);  // the model scan after the first paint
    return geometryOf(shown.constFirst());
  }
  // The centre of an action row, counted from the bottom (0: QUIT MUREL).
  static QPoint actionRow(const QRect& panel, int fromBottom) {
    const int row = MenuBarActionRow(QStringLiteral("X"), false, false).sizeHint().height();
    return QPoint(panel.left() + 60, panel.bottom() + 1 - fromBottom * (row + 1) - row / 2);
  }
  static void click(QPoint at) {
    test::xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                   QStringLiteral("click"), QStringLiteral("1")});
  }
  void expectQuitsWithin1s(const QRect& panel) {
    QElapsedTimer timer;
    timer.start();
    click(actionRow(panel, 0));
    EXPECT_TRUE(app_->waitForFinished(1000)) << "still running a second after QUIT MUREL";
    EXPECT_EQ(app_->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app_->exitCode(), 0);
  }

  apprig::Home home_;
  std::unique_ptr<apprig::PrivateBus> bus_;
  std::unique_ptr<apprig::FakeTrayWatcher> watcher_;
  std::unique_ptr<QProcess> app_;
};

TEST_F(TrayPanelProcess, BeforeOnboardingTranscribeAndSettingsDoNothingAndQuitEnds) {
  launch();
  ASSERT_TRUE(apprig::pump([&] { return apprig::showsWindow(app_->processId(), QStringLiteral("Onboarding")); }, 10s));
  const QRect panel = openPanel();
  ASSERT_FALSE(panel.isEmpty());
  EXPECT_EQ(panel.width(), 360);

  click(actionRow(panel, 4));  // TRANSCRIBE FILE
  click(actionRow(panel, 3));  // SETTINGS
  apprig::pump([] { return false; }, 500ms);
  EXPECT_EQ(panels().size(), 1) << "the panel stays open";
  EXPECT_FALSE(apprig::showsWindow(app_->processId(), QStringLiteral("Settings")));
  expectQuitsWithin1s(panel);
}

TEST_F(TrayPanelProcess, TranscribeFileClosesThePanelAndShowsTheSettingsWindow) {
  home_.installDefaultModel();
  launch();
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("session  bootstrap")); }, 10s));
  const QRect panel = openPanel();
  ASSERT_FALSE(panel.isEmpty());
  EXPECT_EQ(panel.width(), 360);

  click(actionRow(panel, 4));  // TRANSCRIBE FILE
  EXPECT_TRUE(apprig::pump([&] { return apprig::showsWindow(app_->processId(), QStringLiteral("Settings")); }, 5s));
  EXPECT_TRUE(panels().isEmpty()) << "no tray panel is left mapped";

  // Opened again, it quits the application.
  test::xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("120")});
  const QRect again = openPanel();
  ASSERT_FALSE(again.isEmpty());
  expectQuitsWithin1s(again);
}

}  // namespace
