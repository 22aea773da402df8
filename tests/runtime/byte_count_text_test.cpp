#include "runtime/ByteCountText.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  std::int64_t bytes;
  const char* text;
};

TEST(FileByteCountText, DecimalUnitsWithPrecisionByUnit) {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const Case cases[] = {
      // The speech-model catalogue's download sizes and the language model's.
      {264'477'561, "264.5 MB"},
      {3'659'530'240, "3.66 GB"},
      {1'000'000'000, "1 GB"},
      // Unit edges: a value that rounds to 1,000 moves up a unit.
      {0, "0 bytes"},
      {1, "1 byte"},
      {999, "999 bytes"},
      {1000, "1 KB"},
      {1499, "1 KB"},
      {1500, "2 KB"},
      {999'499, "999 KB"},
      {999'500, "1 MB"},
      {1'000'000, "1 MB"},
      {1'050'000, "1.1 MB"},
      {999'949'999, "999.9 MB"},
      {999'950'000, "1 GB"},
      {1'234'567'890'123, "1.23 TB"},
      {-5, "0 bytes"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(murel::fileByteCountText(c.bytes, english), QString::fromUtf8(c.text)) << c.bytes;
}

TEST(FileByteCountText, FollowsTheLocalesDecimalSeparator) {
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(murel::fileByteCountText(264'477'561, german), QStringLiteral("264,5 MB"));
  EXPECT_EQ(murel::fileByteCountText(3'659'530'240, german), QStringLiteral("3,66 GB"));
}

}  // namespace
