#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <optional>

namespace murel {

// The system clipboard as the delivery and the selection reader see it: a
// change count that moves whenever anyone changes the contents, snapshots of
// every format, and writes of our own. Main thread only.
class Pasteboard : public QObject {
  Q_OBJECT

 public:
  // The formats of one clipboard item: (type, bytes) in the order the owner lists them.
  struct Item {
    QList<QPair<QByteArray, QByteArray>> contents;
    friend bool operator==(const Item&, const Item&) = default;
  };

  using QObject::QObject;

  // Moves on every change of the contents, ours included; current at the call.
  virtual qint64 changeCount() = 0;
  // Every readable format of the current contents; no items when the clipboard
  // is empty. Bounded in time: a format the owner does not hand over quickly is left out.
  virtual QList<Item> items() = 0;
  // The current contents as plain text, if they have any.
  virtual std::optional<QString> text() = 0;
  // Replaces the contents with `text`.
  virtual void writeText(const QString& text) = 0;
  // Replaces the contents with `items`; no items leaves the clipboard empty.
  virtual void writeItems(const QList<Item>& items) = 0;
  // Whether the contents are still those of our last write: we own the
  // clipboard and it serves our data.
  virtual bool holdsOwnWrite() = 0;
  // Whether the clipboard's owner is the program of the focused window (the
  // one a synthesized copy key went to), rather than anyone else.
  virtual bool ownerIsFocusedProgram() = 0;

  // The same for the primary selection (PRIMARY on X11): the highlighted text,
  // which terminals paste with Shift+Insert. No change count: nobody needs one.
  virtual QList<Item> primaryItems() = 0;
  virtual void writePrimaryText(const QString& text) = 0;
  // No items gives the selection up (nobody owns it after).
  virtual void writePrimaryItems(const QList<Item>& items) = 0;
  virtual bool holdsOwnPrimaryWrite() = 0;

 Q_SIGNALS:
  // Another program fetched data of our last write to either selection (a
  // paste reading it).
  void ownDataFetched();
};

}  // namespace murel
