// The tray panel of the application as a process: a private session bus with a
// tray watcher, the icon activated over D-Bus the way a desktop's tray does, or
// a real XEmbed tray (trayer) at the top or bottom of the screen clicked with
// the real pointer; the panel's rows clicked with the real pointer too.
#include "../app/AppProcessRig.h"

#include "design/Tokens.h"
#include "menubar/MenuBarRows.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <functional>

using namespace murel;
using namespace std::chrono_literals;

namespace {

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
    app_ = apprig::startApp(test::buildDir() + QStringLiteral("/bin/murel"), home_, bus_->address(),
                            [this](QProcessEnvironment& env) {
                              if (!binFolder_.isEmpty())
                                env.insert(QStringLiteral("PATH"), binFolder_ + QLatin1Char(':') + env.value("PATH"));
                            });
    if (watcher_)
      ASSERT_TRUE(apprig::pump([&] { return !watcher_->items().isEmpty(); }, 10s)) << "no tray icon registered";
  }
  // The panel's windows (the tray icon's own window may carry the same title).
  QStringList panels() const {
    QStringList list = apprig::mappedWindows(app_->processId(), QStringLiteral("Murel$"));
    list.removeIf([](const QString& window) { return apprig::windowSize(window).width() <= 48; });
    return list;
  }
  // What the tray does on a click on the icon.
  void activate(QPoint at = {}) {
    const QString item = watcher_->items().constLast();
    const QString service = item.section(QLatin1Char('/'), 0, 0);
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    call << at.x() << at.y();
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
    return apprig::windowGeometry(shown.constFirst());
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
  // Put before the system's programs on the application's PATH.
  QString binFolder_;
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

// A real XEmbed system tray along one screen edge, icons at its right end, for
// the test's lifetime.
class Trayer {
 public:
  explicit Trayer(const QString& edge) {
    process_.setProgram(QStringLiteral("trayer"));
    process_.setArguments({QStringLiteral("--edge"), edge, QStringLiteral("--align"), QStringLiteral("right"),
                           QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                           QStringLiteral("24"), QStringLiteral("--SetDockType"), QStringLiteral("true"),
                           QStringLiteral("--SetPartialStrut"), QStringLiteral("true")});
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start();
  }
  ~Trayer() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  Trayer(const Trayer&) = delete;
  Trayer& operator=(const Trayer&) = delete;

  // Once the tray's window is on screen.
  bool waitUntilShown() {
    return apprig::pump([&] { return !apprig::mappedWindowsOf(process_.processId()).isEmpty(); }, 10s);
  }
  // The bar the icons dock in; it grows as they do.
  QRect bar() const {
    const QStringList windows = apprig::mappedWindows(process_.processId(), QStringLiteral("panel$"));
    return windows.size() == 1 ? apprig::windowGeometry(windows.constFirst()) : QRect();
  }

 private:
  QProcess process_;
};

// Two installed models make the panel grow after its first paint (the model
// row comes with the scan that follows it); a stand-in xdg-open fails once the
// test lets it, so an error card arrives while the panel is open.
class TrayPlacement : public TrayPanelProcess, public ::testing::WithParamInterface<QString> {
 protected:
  void SetUp() override {
    TrayPanelProcess::SetUp();
    const QString tray = GetParam();
    if (tray != QLatin1String("host")) watcher_.reset();
    home_.installDefaultModel();
    for (const SpeechModelDescriptor& entry : SpeechModelDescriptor::catalog()) {
      if (entry.id == SpeechModelDescriptor::defaultModel().id) continue;
      home_.installModel(entry);
      break;
    }
    binFolder_ = home_.root + QStringLiteral("/bin");
    QDir().mkpath(binFolder_);
    QFile opener(binFolder_ + QStringLiteral("/xdg-open"));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write(
        "#!/bin/sh\n"
        "i=0\n"
        "while [ ! -e '" +
        goFile().toUtf8() +
        "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
        "exit 3\n");
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QString goFile() const { return home_.root + QStringLiteral("/opener-fails-now"); }

  // What `find` returns once it has stopped changing.
  static QRect settled(const std::function<QRect()>& find) {
    QRect last;
    int same = 0;
    apprig::pump(
        [&] {
          const QRect now = find();
          same = (now.isValid() && now == last) ? same + 1 : 0;
          last = now;
          return same >= 3;
        },
        10s);
    return last;
  }
  // The one panel window, once its geometry has stopped changing.
  QRect settledPanel() {
    return settled([&] {
      const QStringList shown = panels();
      return shown.size() == 1 ? apprig::windowGeometry(shown.constFirst()) : QRect();
    });
  }
  void expectBesideIcon(const QRect& panel, const QRect& icon, const char* when) {
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(panel.width(), 360) << when;
    EXPECT_TRUE(screen.contains(panel)) << when << ": " << panel.x() << "," << panel.y() << " " << panel.width() << "x"
                                        << panel.height();
    EXPECT_FALSE(panel.intersects(icon)) << when << ": the panel lies over the icon at " << icon.x() << "," << icon.y();
  }
  void screenshot(const QRect& panel, const QRect& icon) {
    const QString folder = test::buildDir() + QStringLiteral("/screenshots/menubar");
    QDir().mkpath(folder);
    const QRect area = panel.united(icon).adjusted(-40, -40, 40, 40).intersected(QRect(0, 0, 1920, 1080));
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(folder + QStringLiteral("/panel-%1-tray.png").arg(GetParam()));
  }

  // Opens the panel with `clickIcon`, lets an error card arrive while it is
  // open, and closes it with a second click; the icon is `icon` throughout.
  void runOnTray(const std::function<void()>& clickIcon, const QRect& icon) {
    ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("session  bootstrap")); }, 10s));
    clickIcon();
    const QRect grown = settledPanel();
    ASSERT_TRUE(grown.isValid()) << "no panel opened";
    const int row = MenuBarActionRow(QStringLiteral("X"), false, false).sizeHint().height();
    EXPECT_GE(grown.height(), 9 * row) << "the model row is in";
    expectBesideIcon(grown, icon, "grown after its first paint");

    click(actionRow(grown, 2));  // CHECK FOR UPDATES…
    ASSERT_TRUE(apprig::pump([&] { return panels().isEmpty(); }, 10s)) << "the panel closes first";
    clickIcon();
    const QRect before = settledPanel();
    ASSERT_TRUE(before.isValid());
    QFile(goFile()).open(QIODevice::WriteOnly);
    QRect withCard;
    ASSERT_TRUE(apprig::pump(
        [&] {
          const QStringList shown = panels();
          withCard = shown.size() == 1 ? apprig::windowGeometry(shown.constFirst()) : QRect();
          return withCard.height() > before.height() + row;
        },
        15s))
        << "no error card arrived";
    withCard = settledPanel();
    expectBesideIcon(withCard, icon, "with the error card");
    screenshot(withCard, icon);
    EXPECT_TRUE(home_.log().contains(QStringLiteral("download page not opened")));

    // The second click only closes the panel, and nothing opens it again.
    clickIcon();
    ASSERT_TRUE(apprig::pump([&] { return panels().isEmpty(); }, 10s)) << "the panel stays open";
    EXPECT_FALSE(apprig::pump([&] { return !panels().isEmpty() || app_->state() != QProcess::Running; }, 1s))
        << "the panel opened again or the application ended";
    EXPECT_EQ(app_->state(), QProcess::Running);
  }
};

TEST_P(TrayPlacement, StaysBesideTheIcon) {
  const QString tray = GetParam();
  if (tray == QLatin1String("host")) {
    launch();
    // A host at the bottom right: a 24-pixel icon, clicked at its centre.
    const QRect icon(1896, 1056, 24, 24);
    runOnTray([&] { activate(icon.center()); }, icon);

    // Hosts pick their size from every image of the icon.
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher_->items().constLast().section(QLatin1Char('/'), 0, 0), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("IconPixmap");
    const QDBusMessage reply = bus_->connection().call(get, QDBus::Block, 5000);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const QDBusArgument images =
        qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().value<QDBusArgument>();
    QList<int> sides;
    images.beginArray();
    while (!images.atEnd()) {
      int width = 0, height = 0;
      QByteArray argb;
      images.beginStructure();
      images >> width >> height >> argb;
      images.endStructure();
      EXPECT_EQ(argb.size(), width * height * 4);
      sides << width;
    }
    images.endArray();
    EXPECT_TRUE(sides.contains(16) && sides.contains(22)) << sides.size();

    // The host's right click: the context menu opens at its point, on screen.
    QDBusMessage menu = QDBusMessage::createMethodCall(
        watcher_->items().constLast().section(QLatin1Char('/'), 0, 0), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ContextMenu"));
    menu << icon.center().x() << icon.center().y();
    ASSERT_NE(bus_->connection().call(menu, QDBus::Block, 5000).type(), QDBusMessage::ErrorMessage);
    QRect shown;
    EXPECT_TRUE(apprig::pump(
        [&] {
          for (const QString& window : apprig::mappedWindowsOf(app_->processId())) {
            const QRect rect = apprig::windowGeometry(window);
            if (rect.width() > 48 && rect.width() < 360) shown = rect;
          }
          return shown.isValid();
        },
        10s))
        << "no context menu";
    EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(shown));
    EXPECT_TRUE(shown.adjusted(-4, -4, 4, 4).contains(icon.center())) << "the menu opens at the host's point";
    test::xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    return;
  }
  Trayer trayer(tray);
  ASSERT_TRUE(trayer.waitUntilShown()) << "trayer did not start";
  launch();
  // While the tray docks the icon, its window shows for a moment at the
  // socket's interim spot, partly past the bar, before the bar grows around
  // it: only a settled icon inside the bar is where a click reaches it.
  const QRect icon = settled([&] {
    const QRect bar = trayer.bar();
    for (const QString& window : apprig::mappedWindowsOf(app_->processId())) {
      const QRect rect = apprig::windowGeometry(window);
      if (rect.width() > 0 && rect.width() <= 48 && rect.height() <= 48 && bar.contains(rect)) return rect;
    }
    return QRect();
  });
  ASSERT_TRUE(icon.isValid()) << "the icon did not dock in the tray";
  EXPECT_TRUE(tray == QLatin1String("top") ? icon.top() < 40 : icon.bottom() > 1040) << icon.y();
  runOnTray([&] { click(icon.center()); }, icon);
}

INSTANTIATE_TEST_SUITE_P(Trays, TrayPlacement,
                         ::testing::Values(QStringLiteral("bottom"), QStringLiteral("top"), QStringLiteral("host")),
                         [](const auto& info) { return info.param.toStdString(); });

}  // namespace
