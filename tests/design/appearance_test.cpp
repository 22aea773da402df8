// Light and dark from the desktop portal on the rig's private session bus.
#include "design/Appearance.h"
#include "design/InputComponents.h"
#include "design/SettingsComponents.h"
#include "design/Tokens.h"
#include "support/TestEnv.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace murel;
using murel::test::waitUntil;
using Scheme = Appearance::Scheme;

namespace {

// The portal stand-in as a child process; a new value per line on its stdin.
class FakePortal {
 public:
  explicit FakePortal(const QString& initial) {
    process_.setProgram(murel::test::buildDir() + QStringLiteral("/bin/murel_fake_portal"));
    process_.setArguments({initial});
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
    ready_ =
        process_.waitForStarted(5000) && process_.waitForReadyRead(5000) && process_.readLine().trimmed() == "ready";
  }
  ~FakePortal() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(3000)) process_.kill();
    process_.waitForFinished(3000);
    // Wait until the bus has dropped the name, so the next test starts clean.
    waitUntil([] {
      return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
          QStringLiteral("org.freedesktop.portal.Desktop"));
    });
  }
  bool ready() const { return ready_; }
  void set(int value) {
    process_.write(QByteArray::number(value) + '\n');
    process_.waitForBytesWritten(1000);
  }

 private:
  QProcess process_;
  bool ready_ = false;
};

// Paints the page background and counts its paints.
class Probe : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    ++paints;
    QPainter(this).fillRect(rect(), dsColor(DSColor::background, this));
  }
};

QRgb centrePixel(QWidget& widget) {
  const QImage image = widget.grab().toImage();
  return image.pixel(image.width() / 2, image.height() / 2);
}

}  // namespace

TEST(Appearance, PortalValuesMapToLightUnlessDarkIsPreferred) {
  const std::pair<QVariant, Scheme> cases[] = {
      {QVariant(0u), Scheme::Light},
      {QVariant(1u), Scheme::Dark},
      {QVariant(2u), Scheme::Light},
      {QVariant(7u), Scheme::Light},
      {QVariant(QStringLiteral("dark")), Scheme::Light},
      {QVariant(), Scheme::Light},
      // Read() nests the value in one more variant than ReadOne().
      {QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(1u))))), Scheme::Dark},
  };
  for (const auto& [value, scheme] : cases)
    EXPECT_EQ(Appearance::schemeFromPortalValue(value), scheme) << value.typeName();
}

TEST(Appearance, LightWithoutPortalOrWithoutTheSetting) {
  {
    Appearance none(platform::DesktopColorScheme::onSessionBus());
    QCoreApplication::processEvents();
    EXPECT_EQ(none.scheme(), Scheme::Light);
  }
  FakePortal portal(QStringLiteral("absent"));
  ASSERT_TRUE(portal.ready());
  Appearance appearance(platform::DesktopColorScheme::onSessionBus());
  int changes = 0;
  QObject::connect(&appearance, &Appearance::schemeChanged, [&] { ++changes; });
  // A later change still arrives, so the first read has been answered by then.
  portal.set(1);
  ASSERT_TRUE(waitUntil([&] { return appearance.scheme() == Scheme::Dark; }));
  EXPECT_EQ(changes, 1);
}

TEST(Appearance, ReadsTheDesktopsSchemeAtStartAndWhenThePortalAppearsLater) {
  Appearance early(platform::DesktopColorScheme::onSessionBus());
  FakePortal portal(QStringLiteral("1"));
  ASSERT_TRUE(portal.ready());
  Appearance late(platform::DesktopColorScheme::onSessionBus());
  EXPECT_TRUE(waitUntil([&] { return late.scheme() == Scheme::Dark; }));
  EXPECT_TRUE(waitUntil([&] { return early.scheme() == Scheme::Dark; }));
}

TEST(Appearance, SwitchingRepaintsAnOpenWindowOnceWithoutRebuildingIt) {
  FakePortal portal(QStringLiteral("2"));
  ASSERT_TRUE(portal.ready());
  Appearance& shared = Appearance::shared();
  ASSERT_TRUE(waitUntil([&] { return shared.scheme() == Scheme::Light; }));

  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* probe = new Probe;
  probe->setMinimumSize(200, 100);
  auto* field = new DSTextField(QStringLiteral("NAME"), QStringLiteral("e.g. Email"), QString());
  auto* card = new SettingsCard;
  layout->addWidget(probe);
  layout->addWidget(field);
  layout->addWidget(card);
  window.show();
  ASSERT_TRUE(waitUntil([&] { return probe->paints > 0; }));
  QWidget* const editBefore = field->lineEdit();
  EXPECT_EQ(centrePixel(*probe), dsColor(DSColor::background, Scheme::Light).rgb());

  waitUntil([] { return false; }, std::chrono::milliseconds(100));
  const int paintsBefore = probe->paints;
  portal.set(1);
  ASSERT_TRUE(waitUntil([&] { return shared.scheme() == Scheme::Dark; }));
  ASSERT_TRUE(waitUntil([&] { return probe->paints > paintsBefore; }));
  waitUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(probe->paints, paintsBefore + 1) << "one repaint per switch";
  EXPECT_EQ(field->lineEdit(), editBefore) << "nothing rebuilt";
  EXPECT_EQ(centrePixel(*probe), dsColor(DSColor::background, Scheme::Dark).rgb());
  // The stock text editor inside the field follows too.
  EXPECT_EQ(field->lineEdit()->palette().color(QPalette::Text), dsColor(DSColor::ink, Scheme::Dark));

  // Back to light on "no preference".
  portal.set(0);
  ASSERT_TRUE(waitUntil([&] { return shared.scheme() == Scheme::Light; }));
  ASSERT_TRUE(waitUntil([&] { return centrePixel(*probe) == dsColor(DSColor::background, Scheme::Light).rgb(); }));
  EXPECT_EQ(field->lineEdit()->palette().color(QPalette::Text), dsColor(DSColor::ink, Scheme::Light));
}
