#include "platform/x11/X11Pasteboard.h"

#include "platform/x11/X11Connection.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>

namespace murel {
namespace {

// Data that we put on the clipboard and that tells its pasteboard when
// another program reads it.
class ServedMimeData final : public QMimeData {
 public:
  explicit ServedMimeData(X11Pasteboard* board) : board_(board) {}

 protected:
  QVariant retrieveData(const QString& format, QMetaType type) const override {
    if (board_) board_->noteFetched(this);
    return QMimeData::retrieveData(format, type);
  }

 private:
  QPointer<X11Pasteboard> board_;
};

QClipboard* clipboard() { return QGuiApplication::clipboard(); }

const QByteArray kUtf8 = QByteArrayLiteral("UTF8_STRING");
const QString kQtText = QStringLiteral("text/plain");

// Text targets that Qt offers by itself for any text it serves.
bool isDerivedTextTarget(const QByteArray& name) {
  return name == "STRING" || name == "TEXT" || name == "COMPOUND_TEXT" || name == "text/plain";
}

}  // namespace

X11Pasteboard::X11Pasteboard(x11::Connection* connection, QObject* parent)
    : Pasteboard(parent), connection_(connection) {
  if (!connection_) {
    connect(clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
      if (mode == QClipboard::Clipboard) ++qtChanges_;
    });
  }
}

qint64 X11Pasteboard::changeCount() {
  if (!connection_) return qtChanges_;
  return static_cast<qint64>(connection_->selectionChangeCount(connection_->atom("CLIPBOARD"))) + qtChanges_;
}

Pasteboard::Item X11Pasteboard::itemFromOwnData(const QMimeData* data) {
  Item item;
  readingOwnData_ = true;
  for (const QString& format : data->formats()) {
    if (format == QLatin1String("application/x-qt-image")) continue;
    const QByteArray type = format == kQtText ? kUtf8 : format.toLatin1();
    item.contents.append({type, data->data(format)});
  }
  readingOwnData_ = false;
  return item;
}

namespace {

QClipboard::Mode modeOf(bool primary) { return primary ? QClipboard::Selection : QClipboard::Clipboard; }
const char* selectionName(bool primary) { return primary ? "PRIMARY" : "CLIPBOARD"; }

}  // namespace

QList<Pasteboard::Item> X11Pasteboard::items() { return readItems(false); }

QList<Pasteboard::Item> X11Pasteboard::primaryItems() { return readItems(true); }

QList<Pasteboard::Item> X11Pasteboard::readItems(bool primary) {
  if (!connection_) {
    const QMimeData* data = clipboard()->mimeData(modeOf(primary));
    if (!data || data->formats().isEmpty()) return {};
    return {itemFromOwnData(data)};
  }
  const x11::XAtom selection = connection_->atom(selectionName(primary));
  const x11::XWindow owner = connection_->selectionOwner(selection);
  if (!owner) return {};
  if (connection_->isOwnWindow(owner)) {
    // Asking ourselves over the wire would wait for this very thread.
    const QMimeData* data = clipboard()->mimeData(modeOf(primary));
    return {data ? itemFromOwnData(data) : Item{}};
  }
  const auto deadline = std::chrono::steady_clock::now() + kReadBudget;
  const QList<x11::XAtom> targets = connection_->dataTargets(selection, deadline);
  const bool hasUtf8 = targets.contains(connection_->atom("UTF8_STRING"));
  Item item;
  for (x11::XAtom target : targets) {
    const QByteArray name = connection_->atomName(target);
    if (hasUtf8 && isDerivedTextTarget(name)) continue;
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (std::optional<x11::Connection::Converted> converted = connection_->convert(selection, target, deadline)) {
      item.contents.append({name, converted->data});
    }
  }
  return {item};
}

std::optional<QString> X11Pasteboard::text() {
  if (!connection_ || connection_->isOwnWindow(connection_->selectionOwner(connection_->atom("CLIPBOARD")))) {
    const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText()) return std::nullopt;
    readingOwnData_ = true;
    const QString text = data->text();
    readingOwnData_ = false;
    return text;
  }
  return connection_->text(connection_->atom("CLIPBOARD"), std::chrono::steady_clock::now() + kReadBudget);
}

void X11Pasteboard::writeText(const QString& text) {
  auto* data = new ServedMimeData(this);
  data->setText(text);
  setOwnData(data);
}

void X11Pasteboard::writePrimaryText(const QString& text) {
  auto* data = new ServedMimeData(this);
  data->setText(text);
  setOwnData(data, true);
}

void X11Pasteboard::clearSelection(bool primary) {
  Served& served = primary ? primary_ : clipboard_;
  served.data = nullptr;
  served.ownerWindow = 0;
  clipboard()->clear(modeOf(primary));
  // Qt leaves a selection it does not own alone, or may stamp the request too early.
  if (connection_) {
    const x11::XAtom selection = connection_->atom(selectionName(primary));
    if (connection_->selectionOwner(selection) != 0) connection_->setSelectionOwner(selection, 0);
  }
}

void X11Pasteboard::writeItems(const QList<Item>& items) {
  if (items.isEmpty()) {
    clearSelection(false);
    ++qtChanges_;
    return;
  }
  setOwnData(mimeFromItems(items));
}

void X11Pasteboard::writePrimaryItems(const QList<Item>& items) {
  if (items.isEmpty()) {
    clearSelection(true);
    return;
  }
  setOwnData(mimeFromItems(items), true);
}

QMimeData* X11Pasteboard::mimeFromItems(const QList<Item>& items) {
  auto* data = new ServedMimeData(this);
  for (const Item& item : items) {
    for (const auto& [type, bytes] : item.contents) {
      QString format = QString::fromLatin1(type);
      QByteArray value = bytes;
      if (type == kUtf8) {
        format = kQtText;
      } else if (type == "STRING") {
        format = kQtText;
        value = QString::fromLatin1(bytes).toUtf8();
      } else if (type == "TEXT" || type == "COMPOUND_TEXT") {
        continue;
      }
      if (!data->hasFormat(format)) data->setData(format, value);
    }
  }
  return data;
}

void X11Pasteboard::setOwnData(QMimeData* data, bool primary) {
  Served& served = primary ? primary_ : clipboard_;
  const QClipboard::Mode mode = modeOf(primary);
  if (!connection_) {
    served.data = data;
    clipboard()->setMimeData(data, mode);
    if (!primary) ++qtChanges_;
    return;
  }
  const x11::XAtom selection = connection_->atom(selectionName(primary));
  const auto ownsNow = [&] { return primary ? clipboard()->ownsSelection() : clipboard()->ownsClipboard(); };
  // Qt stamps its ownership request with the time of the last X event it has
  // handled. When another program took the selection after that and Qt has not
  // handled the notice yet, the server ignores the request (and a late notice
  // would throw our data away): Qt's X events are then let through and the
  // write is made again, for at most 50 ms; input events wait meanwhile.
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    if (ownsNow() && !connection_->isOwnWindow(connection_->selectionOwner(selection))) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
      if (waited.elapsed() < 50) continue;
    }
    served.data = data;
    clipboard()->setMimeData(data, mode);
    served.ownerWindow = connection_->selectionOwner(selection);
    if (connection_->isOwnWindow(served.ownerWindow) || waited.elapsed() >= 50) break;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    auto* copy = new ServedMimeData(this);
    for (const QString& format : data->formats()) {
      readingOwnData_ = true;
      copy->setData(format, data->data(format));
      readingOwnData_ = false;
    }
    data = copy;
  }
  if (!primary) ++qtChanges_;
}

bool X11Pasteboard::holdsOwnWrite() { return holdsOwn(false); }

bool X11Pasteboard::holdsOwnPrimaryWrite() { return holdsOwn(true); }

bool X11Pasteboard::ownerIsFocusedProgram() {
  if (!connection_) return true;
  return connection_->sameClient(connection_->selectionOwner(connection_->atom("CLIPBOARD")),
                                 connection_->focusedClientWindow());
}

bool X11Pasteboard::holdsOwn(bool primary) {
  const Served& served = primary ? primary_ : clipboard_;
  if (!served.data || clipboard()->mimeData(modeOf(primary)) != served.data.data()) return false;
  return !connection_ || (served.ownerWindow != 0 &&
                          connection_->selectionOwner(connection_->atom(selectionName(primary))) == served.ownerWindow);
}

void X11Pasteboard::noteFetched(const QMimeData* data) {
  if (readingOwnData_ || (data != clipboard_.data.data() && data != primary_.data.data())) return;
  // Reported one turn later: the clipboard is in the middle of serving the data.
  QMetaObject::invokeMethod(this, &Pasteboard::ownDataFetched, Qt::QueuedConnection);
}

}  // namespace murel
