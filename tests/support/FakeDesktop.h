#pragma once

#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"

#include <QList>

namespace murel::test {

// Shortcut keys that are only written down.
class FakeKeySynthesizer final : public KeySynthesizer {
 public:
  bool isTrusted() override { return trusted; }
  bool postKeyWithCommand(Key key) override {
    posted.append(key);
    return trusted;
  }
  bool isTerminalFocused() override { return false; }
  bool postShiftInsert() override { return trusted; }

  bool trusted = true;
  QList<Key> posted;
};

// A clipboard in memory, for parts that only need one to exist.
class FakePasteboard final : public Pasteboard {
 public:
  qint64 changeCount() override { return changes_; }
  QList<Item> items() override { return items_; }
  std::optional<QString> text() override {
    for (const Item& item : items_)
      for (const auto& [type, bytes] : item.contents)
        if (type == "text/plain") return QString::fromUtf8(bytes);
    return std::nullopt;
  }
  void writeText(const QString& text) override { writeItems({Item{{{"text/plain", text.toUtf8()}}}}); }
  void writeItems(const QList<Item>& items) override {
    items_ = items;
    ++changes_;
    ownWrite_ = changes_;
  }
  bool holdsOwnWrite() override { return ownWrite_ == changes_; }
  bool ownerIsFocusedProgram() override { return true; }
  QList<Item> primaryItems() override { return primary_; }
  void writePrimaryText(const QString& text) override { writePrimaryItems({Item{{{"text/plain", text.toUtf8()}}}}); }
  void writePrimaryItems(const QList<Item>& items) override { primary_ = items; }
  bool holdsOwnPrimaryWrite() override { return false; }

 private:
  QList<Item> items_;
  QList<Item> primary_;
  qint64 changes_ = 0;
  qint64 ownWrite_ = -1;
};

}  // namespace murel::test
