#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <set>

namespace murel {

// One physical key, identified by the virtual key code under which hotkeys are
// stored (the X11 layer maps keycodes onto these codes), so stored combos keep
// their meaning.
enum class Key : quint32 {
  a = 0,
  s = 1,
  d = 2,
  f = 3,
  h = 4,
  g = 5,
  z = 6,
  x = 7,
  c = 8,
  v = 9,
  b = 11,
  q = 12,
  w = 13,
  e = 14,
  r = 15,
  y = 16,
  t = 17,
  o = 31,
  u = 32,
  i = 34,
  p = 35,
  l = 37,
  j = 38,
  k = 40,
  n = 45,
  m = 46,
  zero = 29,
  one = 18,
  two = 19,
  three = 20,
  four = 21,
  five = 23,
  six = 22,
  seven = 26,
  eight = 28,
  nine = 25,
  equal = 24,
  minus = 27,
  rightBracket = 30,
  leftBracket = 33,
  quote = 39,
  semicolon = 41,
  backslash = 42,
  comma = 43,
  slash = 44,
  period = 47,
  grave = 50,
  section = 10,
  f1 = 122,
  f2 = 120,
  f3 = 99,
  f4 = 118,
  f5 = 96,
  f6 = 97,
  f7 = 98,
  f8 = 100,
  f9 = 101,
  f10 = 109,
  f11 = 103,
  f12 = 111,
  f13 = 105,
  f14 = 107,
  f15 = 113,
  f16 = 106,
  f17 = 64,
  f18 = 79,
  f19 = 80,
  f20 = 90,
  return_ = 36,
  tab = 48,
  space = 49,
  delete_ = 51,
  escape = 53,
  rightCommand = 54,
  leftCommand = 55,
  leftShift = 56,
  capsLock = 57,
  leftOption = 58,
  leftControl = 59,
  rightShift = 60,
  rightOption = 61,
  rightControl = 62,
  function = 63,
  forwardDelete = 117,
  home = 115,
  end = 119,
  pageUp = 116,
  pageDown = 121,
  leftArrow = 123,
  rightArrow = 124,
  downArrow = 125,
  upArrow = 126,
  keypadDecimal = 65,
  keypadMultiply = 67,
  keypadPlus = 69,
  keypadClear = 71,
  keypadDivide = 75,
  keypadEnter = 76,
  keypadMinus = 78,
  keypadEquals = 81,
  keypad0 = 82,
  keypad1 = 83,
  keypad2 = 84,
  keypad3 = 85,
  keypad4 = 86,
  keypad5 = 87,
  keypad6 = 88,
  keypad7 = 89,
  keypad8 = 91,
  keypad9 = 92,
};

// Every key, in declaration order.
const std::array<Key, 110>& allKeys();
// The key with this code; none for codes without a key (52, 66, …, and every code above 126).
std::optional<Key> keyFromCode(quint32 code);
inline quint32 keyCode(Key key) { return static_cast<quint32>(key); }
// The label of the key cap ("A", "F5", "␣ SPACE", "L Super", "KP0" …).
QString keyDisplayName(Key key);
// The ten modifier keys, codes 54 to 63 (caps lock among them, though it never counts as a modifier).
inline bool isModifierKey(Key key) { return keyCode(key) >= 54 && keyCode(key) <= 63; }

inline size_t qHash(Key key, size_t seed = 0) { return ::qHash(static_cast<quint32>(key), seed); }

// The modifiers a hotkey needs: per classic modifier an either-side bit and one bit per side.
struct KeyModifiers {
  static constexpr quint32 command = 0x1;
  static constexpr quint32 option = 0x2;
  static constexpr quint32 control = 0x4;
  static constexpr quint32 shift = 0x8;
  static constexpr quint32 leftCommand = 0x10;
  static constexpr quint32 rightCommand = 0x20;
  static constexpr quint32 leftOption = 0x40;
  static constexpr quint32 rightOption = 0x80;
  static constexpr quint32 leftControl = 0x100;
  static constexpr quint32 rightControl = 0x200;
  static constexpr quint32 leftShift = 0x400;
  static constexpr quint32 rightShift = 0x800;
  static constexpr quint32 function = 0x1000;

  quint32 rawValue = 0;

  constexpr KeyModifiers() = default;
  constexpr explicit KeyModifiers(quint32 raw) : rawValue(raw) {}

  bool contains(quint32 bits) const { return (rawValue & bits) == bits; }
  bool isEmpty() const { return rawValue == 0; }
  // Symbols in the order control, option, shift, command, fn; an either-side bit hides its side bits.
  QStringList symbols() const;

  // The side bits of the held modifier keys; caps lock and other keys add nothing.
  static KeyModifiers fromFlagKeys(const std::set<Key>& heldKeys);
  // Converts a classic Carbon modifier mask into either-side bits; other bits are dropped.
  static KeyModifiers fromCarbon(quint32 carbonMask);

  friend bool operator==(KeyModifiers a, KeyModifiers b) { return a.rawValue == b.rawValue; }
};

inline size_t qHash(KeyModifiers m, size_t seed = 0) { return ::qHash(m.rawValue, seed); }

// One key plus the modifiers that must be held with it.
struct KeyCombo {
  quint32 keyCode = 0;
  KeyModifiers modifiers;

  KeyCombo() = default;
  KeyCombo(quint32 code, KeyModifiers mods) : keyCode(code), modifiers(mods) {}
  KeyCombo(Key key, quint32 mods) : keyCode(murel::keyCode(key)), modifiers(mods) {}

  // The compact JSON text stored in the user defaults, members always in the order v, k, m.
  QString rawValue() const;
  // Reads the text form; a text without "v" equal to 2 holds a legacy Carbon mask. None when malformed.
  static std::optional<KeyCombo> fromRawValue(const QString& text);

  // The form used inside larger stored records: {"keyCode":…, "modifiers":…}.
  QJsonObject toRecord() const;
  // Reads the record form (with its legacy "carbonKeyCode"/"carbonModifiers" reading); on failure
  // returns none and, when `error` is given, says why.
  static std::optional<KeyCombo> fromRecord(const QJsonObject& record, QString* error = nullptr);

  // "Alt Shift ␣ SPACE", or "KEY(52)" for a code without a key.
  QString displayString() const;

  friend bool operator==(const KeyCombo& a, const KeyCombo& b) {
    return a.keyCode == b.keyCode && a.modifiers == b.modifiers;
  }
};

// A symbol or key label as Linux desktops name the modifiers: Ctrl, Alt,
// Shift and Super for ⌃ ⌥ ⇧ ⌘, a side prefix kept ("L⌥" reads "L Alt").
QString linuxKeyLabel(const QString& label);
// The keycaps of a combination as shown on screen: the modifiers in symbol
// order, then the key ("?" for a code without a key), each with its Linux label.
QStringList keycapLabels(const KeyCombo& combo);

}  // namespace murel
