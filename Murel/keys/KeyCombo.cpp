#include "keys/KeyCombo.h"

#include <QJsonDocument>

#include <cmath>
#include <utility>

namespace murel {
namespace {

using K = Key;

constexpr std::array<Key, 110> kAllKeys = {
    K::a,
    K::s,
    K::d,
    K::f,
    K::h,
    K::g,
    K::z,
    K::x,
    K::c,
    K::v,
    K::b,
    K::q,
    K::w,
    K::e,
    K::r,
    K::y,
    K::t,
    K::o,
    K::u,
    K::i,
    K::p,
    K::l,
    K::j,
    K::k,
    K::n,
    K::m,
    K::zero,
    K::one,
    K::two,
    K::three,
    K::four,
    K::five,
    K::six,
    K::seven,
    K::eight,
    K::nine,
    K::equal,
    K::minus,
    K::rightBracket,
    K::leftBracket,
    K::quote,
    K::semicolon,
    K::backslash,
    K::comma,
    K::slash,
    K::period,
    K::grave,
    K::section,
    K::f1,
    K::f2,
    K::f3,
    K::f4,
    K::f5,
    K::f6,
    K::f7,
    K::f8,
    K::f9,
    K::f10,
    K::f11,
    K::f12,
    K::f13,
    K::f14,
    K::f15,
    K::f16,
    K::f17,
    K::f18,
    K::f19,
    K::f20,
    K::return_,
    K::tab,
    K::space,
    K::delete_,
    K::escape,
    K::rightCommand,
    K::leftCommand,
    K::leftShift,
    K::capsLock,
    K::leftOption,
    K::leftControl,
    K::rightShift,
    K::rightOption,
    K::rightControl,
    K::function,
    K::forwardDelete,
    K::home,
    K::end,
    K::pageUp,
    K::pageDown,
    K::leftArrow,
    K::rightArrow,
    K::downArrow,
    K::upArrow,
    K::keypadDecimal,
    K::keypadMultiply,
    K::keypadPlus,
    K::keypadClear,
    K::keypadDivide,
    K::keypadEnter,
    K::keypadMinus,
    K::keypadEquals,
    K::keypad0,
    K::keypad1,
    K::keypad2,
    K::keypad3,
    K::keypad4,
    K::keypad5,
    K::keypad6,
    K::keypad7,
    K::keypad8,
    K::keypad9,
};

struct CodeTable {
  std::array<std::optional<Key>, 127> entries{};
  CodeTable() {
    for (Key key : kAllKeys) entries[keyCode(key)] = key;
  }
};

// A JSON number that is exactly an unsigned 32-bit integer.
std::optional<quint32> asUInt32(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double d = value.toDouble();
  if (!(d >= 0.0) || d > 4294967295.0 || std::trunc(d) != d) return std::nullopt;
  return static_cast<quint32>(d);
}

}  // namespace

const std::array<Key, 110>& allKeys() { return kAllKeys; }

std::optional<Key> keyFromCode(quint32 code) {
  if (code > 126) return std::nullopt;
  static const CodeTable table;
  return table.entries[code];
}

QString keyDisplayName(Key key) {
  switch (key) {
    case K::a: return QStringLiteral("A");
    case K::s: return QStringLiteral("S");
    case K::d: return QStringLiteral("D");
    case K::f: return QStringLiteral("F");
    case K::h: return QStringLiteral("H");
    case K::g: return QStringLiteral("G");
    case K::z: return QStringLiteral("Z");
    case K::x: return QStringLiteral("X");
    case K::c: return QStringLiteral("C");
    case K::v: return QStringLiteral("V");
    case K::b: return QStringLiteral("B");
    case K::q: return QStringLiteral("Q");
    case K::w: return QStringLiteral("W");
    case K::e: return QStringLiteral("E");
    case K::r: return QStringLiteral("R");
    case K::y: return QStringLiteral("Y");
    case K::t: return QStringLiteral("T");
    case K::o: return QStringLiteral("O");
    case K::u: return QStringLiteral("U");
    case K::i: return QStringLiteral("I");
    case K::p: return QStringLiteral("P");
    case K::l: return QStringLiteral("L");
    case K::j: return QStringLiteral("J");
    case K::k: return QStringLiteral("K");
    case K::n: return QStringLiteral("N");
    case K::m: return QStringLiteral("M");
    case K::zero: return QStringLiteral("0");
    case K::one: return QStringLiteral("1");
    case K::two: return QStringLiteral("2");
    case K::three: return QStringLiteral("3");
    case K::four: return QStringLiteral("4");
    case K::five: return QStringLiteral("5");
    case K::six: return QStringLiteral("6");
    case K::seven: return QStringLiteral("7");
    case K::eight: return QStringLiteral("8");
    case K::nine: return QStringLiteral("9");
    case K::equal: return QStringLiteral("=");
    case K::minus: return QStringLiteral("-");
    case K::rightBracket: return QStringLiteral("]");
    case K::leftBracket: return QStringLiteral("[");
    case K::quote: return QStringLiteral("'");
    case K::semicolon: return QStringLiteral(";");
    case K::backslash: return QStringLiteral("\\");
    case K::comma: return QStringLiteral(",");
    case K::slash: return QStringLiteral("/");
    case K::period: return QStringLiteral(".");
    case K::grave: return QStringLiteral("`");
    case K::section: return QStringLiteral("§");
    case K::f1: return QStringLiteral("F1");
    case K::f2: return QStringLiteral("F2");
    case K::f3: return QStringLiteral("F3");
    case K::f4: return QStringLiteral("F4");
    case K::f5: return QStringLiteral("F5");
    case K::f6: return QStringLiteral("F6");
    case K::f7: return QStringLiteral("F7");
    case K::f8: return QStringLiteral("F8");
    case K::f9: return QStringLiteral("F9");
    case K::f10: return QStringLiteral("F10");
    case K::f11: return QStringLiteral("F11");
    case K::f12: return QStringLiteral("F12");
    case K::f13: return QStringLiteral("F13");
    case K::f14: return QStringLiteral("F14");
    case K::f15: return QStringLiteral("F15");
    case K::f16: return QStringLiteral("F16");
    case K::f17: return QStringLiteral("F17");
    case K::f18: return QStringLiteral("F18");
    case K::f19: return QStringLiteral("F19");
    case K::f20: return QStringLiteral("F20");
    case K::return_: return QStringLiteral("RETURN");
    case K::tab: return QStringLiteral("TAB");
    case K::space: return QStringLiteral("␣ SPACE");
    case K::delete_: return QStringLiteral("DELETE");
    case K::escape: return QStringLiteral("ESC");
    case K::capsLock: return QStringLiteral("CAPS");
    case K::function: return QStringLiteral("fn");
    case K::forwardDelete: return QStringLiteral("FWD DEL");
    case K::home: return QStringLiteral("HOME");
    case K::end: return QStringLiteral("END");
    case K::pageUp: return QStringLiteral("PGUP");
    case K::pageDown: return QStringLiteral("PGDN");
    case K::leftCommand: return QStringLiteral("L Super");
    case K::rightCommand: return QStringLiteral("R Super");
    case K::leftShift: return QStringLiteral("L Shift");
    case K::rightShift: return QStringLiteral("R Shift");
    case K::leftOption: return QStringLiteral("L Alt");
    case K::rightOption: return QStringLiteral("R Alt");
    case K::leftControl: return QStringLiteral("L Ctrl");
    case K::rightControl: return QStringLiteral("R Ctrl");
    case K::leftArrow: return QStringLiteral("←");
    case K::rightArrow: return QStringLiteral("→");
    case K::downArrow: return QStringLiteral("↓");
    case K::upArrow: return QStringLiteral("↑");
    case K::keypadDecimal: return QStringLiteral("KP.");
    case K::keypadMultiply: return QStringLiteral("KP*");
    case K::keypadPlus: return QStringLiteral("KP+");
    case K::keypadClear: return QStringLiteral("CLR");
    case K::keypadDivide: return QStringLiteral("KP/");
    case K::keypadEnter: return QStringLiteral("KPENT");
    case K::keypadMinus: return QStringLiteral("KP-");
    case K::keypadEquals: return QStringLiteral("KP=");
    case K::keypad0: return QStringLiteral("KP0");
    case K::keypad1: return QStringLiteral("KP1");
    case K::keypad2: return QStringLiteral("KP2");
    case K::keypad3: return QStringLiteral("KP3");
    case K::keypad4: return QStringLiteral("KP4");
    case K::keypad5: return QStringLiteral("KP5");
    case K::keypad6: return QStringLiteral("KP6");
    case K::keypad7: return QStringLiteral("KP7");
    case K::keypad8: return QStringLiteral("KP8");
    case K::keypad9: return QStringLiteral("KP9");
  }
  return QString();
}

QStringList KeyModifiers::symbols() const {
  struct Classic {
    quint32 either, left, right;
    const char* plain;
    const char* leftSymbol;
    const char* rightSymbol;
  };
  static const Classic order[] = {
      {control, leftControl, rightControl, "Ctrl", "L Ctrl", "R Ctrl"},
      {option, leftOption, rightOption, "Alt", "L Alt", "R Alt"},
      {shift, leftShift, rightShift, "Shift", "L Shift", "R Shift"},
      {command, leftCommand, rightCommand, "Super", "L Super", "R Super"},
  };
  QStringList out;
  for (const Classic& c : order) {
    if (rawValue & c.either) {
      out << QString::fromUtf8(c.plain);
      continue;
    }
    if (rawValue & c.left) out << QString::fromUtf8(c.leftSymbol);
    if (rawValue & c.right) out << QString::fromUtf8(c.rightSymbol);
  }
  if (rawValue & function) out << QStringLiteral("fn");
  return out;
}

KeyModifiers KeyModifiers::fromFlagKeys(const std::set<Key>& heldKeys) {
  quint32 raw = 0;
  for (Key key : heldKeys) {
    switch (key) {
      case K::leftCommand: raw |= leftCommand; break;
      case K::rightCommand: raw |= rightCommand; break;
      case K::leftOption: raw |= leftOption; break;
      case K::rightOption: raw |= rightOption; break;
      case K::leftControl: raw |= leftControl; break;
      case K::rightControl: raw |= rightControl; break;
      case K::leftShift: raw |= leftShift; break;
      case K::rightShift: raw |= rightShift; break;
      case K::function: raw |= function; break;
      default: break;
    }
  }
  return KeyModifiers(raw);
}

KeyModifiers KeyModifiers::fromCarbon(quint32 carbonMask) {
  quint32 raw = 0;
  if (carbonMask & 0x100) raw |= command;
  if (carbonMask & 0x200) raw |= shift;
  if (carbonMask & 0x800) raw |= option;
  if (carbonMask & 0x1000) raw |= control;
  if (carbonMask & 0x20000) raw |= function;
  return KeyModifiers(raw);
}

QString KeyCombo::rawValue() const {
  return QStringLiteral("{\"v\":2,\"k\":%1,\"m\":%2}").arg(keyCode).arg(modifiers.rawValue);
}

std::optional<KeyCombo> KeyCombo::fromRawValue(const QString& text) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject obj = doc.object();
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    if (!asUInt32(it.value())) return std::nullopt;
  }
  if (!obj.contains(QLatin1String("k")) || !obj.contains(QLatin1String("m"))) return std::nullopt;
  const quint32 k = *asUInt32(obj.value(QLatin1String("k")));
  const quint32 m = *asUInt32(obj.value(QLatin1String("m")));
  const bool current = obj.contains(QLatin1String("v")) && *asUInt32(obj.value(QLatin1String("v"))) == 2;
  return KeyCombo(k, current ? KeyModifiers(m) : KeyModifiers::fromCarbon(m));
}

QJsonObject KeyCombo::toRecord() const {
  return QJsonObject{{QStringLiteral("keyCode"), static_cast<qint64>(keyCode)},
                     {QStringLiteral("modifiers"), static_cast<qint64>(modifiers.rawValue)}};
}

std::optional<KeyCombo> KeyCombo::fromRecord(const QJsonObject& record, QString* error) {
  auto fail = [error](const QString& why) -> std::optional<KeyCombo> {
    if (error) *error = why;
    return std::nullopt;
  };
  auto member = [&record](const char* name, bool& present) -> std::optional<quint32> {
    present = record.contains(QLatin1String(name));
    return present ? asUInt32(record.value(QLatin1String(name))) : std::nullopt;
  };
  bool hasKey = false, hasModifiers = false;
  const auto key = member("keyCode", hasKey);
  const auto mods = member("modifiers", hasModifiers);
  if (hasKey && !key) return fail(QStringLiteral("keyCode is not an unsigned 32-bit integer"));
  if (hasModifiers && !mods) return fail(QStringLiteral("modifiers is not an unsigned 32-bit integer"));
  if (key && mods) return KeyCombo(*key, KeyModifiers(*mods));
  bool hasCarbonKey = false, hasCarbonMods = false;
  const auto carbonKey = member("carbonKeyCode", hasCarbonKey);
  const auto carbonMods = member("carbonModifiers", hasCarbonMods);
  if (!hasCarbonKey || !hasCarbonMods) return fail(QStringLiteral("hotkey record lacks keyCode and modifiers"));
  if (!carbonKey || !carbonMods) return fail(QStringLiteral("legacy hotkey members are not unsigned 32-bit integers"));
  return KeyCombo(*carbonKey, KeyModifiers::fromCarbon(*carbonMods));
}

QString KeyCombo::displayString() const {
  // Linux names, not glyphs: Command is Super and Option is Alt on X11.
  const QString symbols = modifiers.symbols().join(QLatin1Char(' '));
  const std::optional<Key> key = keyFromCode(keyCode);
  const QString keyText = key ? keyDisplayName(*key) : QStringLiteral("KEY(%1)").arg(keyCode);
  return symbols.isEmpty() ? keyText : symbols + QLatin1Char(' ') + keyText;
}

QString linuxKeyLabel(const QString& label) {
  static const std::pair<QString, QString> names[] = {
      {QStringLiteral("⌃"), QStringLiteral("Ctrl")},
      {QStringLiteral("⌥"), QStringLiteral("Alt")},
      {QStringLiteral("⇧"), QStringLiteral("Shift")},
      {QStringLiteral("⌘"), QStringLiteral("Super")},
  };
  for (const auto& [glyph, name] : names) {
    if (label == glyph) return name;
    if (label.size() == 2 && (label[0] == QLatin1Char('L') || label[0] == QLatin1Char('R')) && label.mid(1) == glyph)
      return label.left(1) + QLatin1Char(' ') + name;
  }
  return label;
}

QStringList keycapLabels(const KeyCombo& combo) {
  QStringList labels;
  for (const QString& symbol : combo.modifiers.symbols()) labels << linuxKeyLabel(symbol);
  const std::optional<Key> key = keyFromCode(combo.keyCode);
  labels << (key ? linuxKeyLabel(keyDisplayName(*key)) : QStringLiteral("?"));
  return labels;
}

}  // namespace murel
