#pragma once

#include "platform/Pasteboard.h"

#include <QPointer>

#include <chrono>

class QMimeData;

namespace murel {

namespace x11 {
class Connection;
}

// The X11 CLIPBOARD through Qt's clipboard, which serves our writes. The change
// count is emulated from the X server's selection-owner notices, read on a
// connection of our own so that it is current at every call; snapshots are
// read on that connection with a time limit, since Qt's conversions may block
// the main thread for seconds.
class X11Pasteboard final : public Pasteboard {
  Q_OBJECT

 public:
  // How long a snapshot or a text read may take in all.
  static constexpr std::chrono::milliseconds kReadBudget{150};

  // `connection` may be null (no X server): the count then follows Qt's notices.
  explicit X11Pasteboard(x11::Connection* connection, QObject* parent = nullptr);

  qint64 changeCount() override;
  QList<Item> items() override;
  std::optional<QString> text() override;
  void writeText(const QString& text) override;
  void writeItems(const QList<Item>& items) override;
  bool holdsOwnWrite() override;
  bool ownerIsFocusedProgram() override;
  QList<Item> primaryItems() override;
  void writePrimaryText(const QString& text) override;
  void writePrimaryItems(const QList<Item>& items) override;
  bool holdsOwnPrimaryWrite() override;

  // Called by the data we serve when another program asks for it.
  void noteFetched(const QMimeData* data);

 private:
  // What we serve on one selection.
  struct Served {
    QPointer<QMimeData> data;
    unsigned long ownerWindow = 0;
  };
  QList<Item> readItems(bool primary);
  QMimeData* mimeFromItems(const QList<Item>& items);
  void clearSelection(bool primary);
  void setOwnData(QMimeData* data, bool primary = false);
  bool holdsOwn(bool primary);
  Item itemFromOwnData(const QMimeData* data);

  x11::Connection* connection_;
  qint64 qtChanges_ = 0;
  Served clipboard_;
  Served primary_;
  bool readingOwnData_ = false;
};

}  // namespace murel
