#include "runtime/AppPaths.h"
#include "runtime/Localization.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// The English .qm is built from the ids in the sources; a missing or empty one
// would put raw ids like "app.name" on screen.
TEST(Translations, EnglishTextsAreBuiltAndLoaded) {
  ASSERT_TRUE(murel::installTranslations(*QCoreApplication::instance()));
  EXPECT_EQ(qtTrId("app.name"), QStringLiteral("Murel"));
}
