// The component gallery renders every group in light and dark; the pictures
// stay in the build tree (build/gallery) for people and CI to look at.
#include "design/Tokens.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

TEST(DesignGallery, RendersEveryGroupInLightAndDark) {
  const QString folder = murel::test::buildDir() + QStringLiteral("/gallery");
  QDir(folder).removeRecursively();
  QProcess gallery;
  gallery.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  gallery.start(murel::test::buildDir() + QStringLiteral("/bin/murel-gallery"), {folder});
  ASSERT_TRUE(gallery.waitForFinished(120000));
  ASSERT_EQ(gallery.exitStatus(), QProcess::NormalExit);
  ASSERT_EQ(gallery.exitCode(), 0);

  using Scheme = murel::Appearance::Scheme;
  for (const char* group : {"core", "editorial", "progress", "inputs", "settings", "hotkeys"}) {
    for (const auto& [suffix, scheme] : {std::pair{"light", Scheme::Light}, std::pair{"dark", Scheme::Dark}}) {
      const QString path = QStringLiteral("%1/%2-%3.png").arg(folder, QLatin1String(group), QLatin1String(suffix));
      const QImage image(path);
      ASSERT_FALSE(image.isNull()) << path.toStdString();
      EXPECT_EQ(image.width(), 640);
      EXPECT_EQ(image.pixel(2, 2), murel::dsColor(murel::DSColor::background, scheme).rgb()) << path.toStdString();
      // Something besides the page colour was drawn.
      const QColor page = image.pixelColor(2, 2);
      int inked = 0;
      for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) inked += image.pixelColor(x, y) != page;
      EXPECT_GT(inked, 100) << path.toStdString();
    }
  }
}
