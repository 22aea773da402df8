#include "keys/KeyCombo.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using murel::Key;
using murel::KeyCombo;
using murel::KeyModifiers;

TEST(KeyCombo, ReadsTextForms) {
  struct Case {
    const char* text;
    std::optional<std::pair<quint32, quint32>> expected;
  };
  const Case cases[] = {
      {R"({"v":2,"k":49,"m":10})", std::pair{49u, 10u}},
      {R"({"m":10,"k":49,"v":2})", std::pair{49u, 10u}},      // member order carries no meaning
      {R"({"k":49,"m":2304})", std::pair{49u, 3u}},           // legacy Carbon: command + option
      {R"({"v":1,"k":0,"m":256})", std::pair{0u, 1u}},        // Carbon command
      {R"({"v":2,"k":0,"m":256})", std::pair{0u, 0x100u}},    // current form: left control
      {R"({"k":3,"m":131072})", std::pair{3u, 0x1000u}},      // Carbon fn
      {R"({"k":3,"m":1024})", std::pair{3u, 0u}},             // Carbon caps lock is dropped
      {R"({"v":2,"k":49,"m":0,"x":7})", std::pair{49u, 0u}},  // extra numeric member ignored
      {R"({"v":2,"k":4294967295,"m":0})", std::pair{4294967295u, 0u}},
      {R"({"v":2,"k":49})", std::nullopt},
      {"{}", std::nullopt},
      {"", std::nullopt},
      {"[1,2]", std::nullopt},
      {R"({"v":2,"k":-1,"m":0})", std::nullopt},
      {R"({"v":2,"k":1.5,"m":0})", std::nullopt},
      {R"({"v":2,"k":"49","m":0})", std::nullopt},
      {R"({"v":2,"k":4294967296,"m":0})", std::nullopt},
      {R"({"v":2,"k":49,"m":0,"x":"y"})", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto combo = KeyCombo::fromRawValue(QString::fromUtf8(c.text));
    ASSERT_EQ(combo.has_value(), c.expected.has_value()) << c.text;
    if (combo) {
      EXPECT_EQ(combo->keyCode, c.expected->first) << c.text;
      EXPECT_EQ(combo->modifiers.rawValue, c.expected->second) << c.text;
    }
  }
}

TEST(KeyCombo, WritesMembersInOneOrderSoEqualValuesHaveEqualTexts) {
  const KeyCombo a(Key::space, KeyModifiers::option | KeyModifiers::shift);
  EXPECT_EQ(a.rawValue(), QStringLiteral(R"({"v":2,"k":49,"m":10})"));
  const auto back = KeyCombo::fromRawValue(a.rawValue());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, a);
  EXPECT_EQ(back->rawValue(), a.rawValue());
  EXPECT_FALSE(a == KeyCombo(Key::space, KeyModifiers::option));
}

TEST(KeyCombo, DisplayStrings) {
  struct Case {
    quint32 code, mods;
    const char* expected;
  };
  const Case cases[] = {
      {49, 10, "Alt Shift ␣ SPACE"},
      {52, 0, "KEY(52)"},
      {52, 1, "Super KEY(52)"},
      {0, 0x30, "L Super R Super A"},
      {0, 0x11, "Super A"},
      {96, 0x1004, "Ctrl fn F5"},
      {61, 0, "R Alt"},
      {82, 0x400 | 0x200, "R Ctrl L Shift KP0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyCombo(c.code, KeyModifiers(c.mods)).displayString(), QString::fromUtf8(c.expected)) << c.expected;
  }
}

// The keycaps name the modifiers as Linux keyboards do; a side prefix stays.
TEST(KeyCombo, KeycapLabels) {
  struct Case {
    quint32 code, mods;
    QStringList expected;
  };
  const Case cases[] = {
      {49, 10, {"Alt", "Shift", "␣ SPACE"}},
      {2, 0x100 | 0x40, {"L Ctrl", "L Alt", "D"}},
      {0, 0x30, {"L Super", "R Super", "A"}},
      {96, 0x1004, {"Ctrl", "fn", "F5"}},
      {61, 0, {"R Alt"}},
      {52, 1, {"Super", "?"}},
      {1000, 0, {"?"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(keycapLabels(KeyCombo(c.code, KeyModifiers(c.mods))), c.expected) << c.expected.join(' ').toStdString();
  }
}

TEST(KeyCombo, KeyTable) {
  EXPECT_EQ(murel::allKeys().size(), 110u);
  for (quint32 code :
       {52u, 66u, 68u, 70u, 72u, 73u, 74u, 77u, 93u, 94u, 95u, 102u, 104u, 108u, 110u, 112u, 114u, 127u, 1000u}) {
    EXPECT_FALSE(murel::keyFromCode(code)) << code;
  }
  int known = 0;
  for (quint32 code = 0; code <= 126; ++code) known += murel::keyFromCode(code).has_value() ? 1 : 0;
  EXPECT_EQ(known, 110);
  EXPECT_EQ(murel::keyFromCode(36), Key::return_);
  EXPECT_EQ(murel::keyFromCode(126), Key::upArrow);
}

TEST(KeyModifiers, FromHeldKeysGivesSideBitsOnly) {
  EXPECT_EQ(KeyModifiers::fromFlagKeys({Key::leftShift, Key::capsLock, Key::rightCommand}).rawValue, 0x420u);
  EXPECT_EQ(KeyModifiers::fromFlagKeys({Key::function, Key::a}).rawValue, 0x1000u);
}

TEST(KeyCombo, RecordForm) {
  auto read = [](const char* json, QString* error = nullptr) {
    return KeyCombo::fromRecord(QJsonDocument::fromJson(json).object(), error);
  };
  EXPECT_EQ(read(R"({"keyCode":49,"modifiers":10})"), KeyCombo(49, KeyModifiers(10)));
  EXPECT_EQ(read(R"({"keyCode":49,"carbonKeyCode":3,"carbonModifiers":2304})"), KeyCombo(3, KeyModifiers(3)));
  QString error;
  EXPECT_FALSE(read(R"({"keyCode":49})", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(read(R"({"keyCode":-4,"modifiers":0})"));
  const KeyCombo combo(Key::f5, 0x1004);
  EXPECT_EQ(KeyCombo::fromRecord(combo.toRecord()), combo);
}
