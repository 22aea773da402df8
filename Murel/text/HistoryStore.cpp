#include "text/HistoryStore.h"

#include "runtime/UserDefaults.h"
#include "text/StoredRecords.h"

namespace murel {
namespace {

std::optional<HistoryEntry> decodeEntry(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const std::optional<QUuid> id = stored::uuidFrom(o.value(QLatin1String("id")));
  const std::optional<QString> text = stored::stringMember(o, "text");
  const std::optional<double> timestamp = stored::numberMember(o, "timestamp");
  if (!id || !text || !timestamp) return std::nullopt;
  return HistoryEntry{*id, *text, stored::dateFromReferenceSeconds(*timestamp)};
}

}  // namespace

HistoryStore::HistoryStore(UserDefaults& defaults, std::function<QDateTime()> now, QObject* parent)
    : QObject(parent), defaults_(defaults), now_(std::move(now)) {
  if (!now_) now_ = [] { return QDateTime::currentDateTimeUtc(); };
  enabled_ = defaults_.boolValue(QLatin1String(kEnabledKey)).value_or(true);
  // Read leniently: one damaged record must not cost the whole history, which
  // the next add would otherwise overwrite.
  entries_ = stored::decodeLenientList<HistoryEntry>(defaults_, QLatin1String(kEntriesKey), decodeEntry);
}

void HistoryStore::setEntries(QList<HistoryEntry> entries) {
  entries_ = std::move(entries);
  Q_EMIT entriesChanged();
}

void HistoryStore::setEnabled(bool enabled) {
  defaults_.setValue(QLatin1String(kEnabledKey), enabled);
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Q_EMIT isEnabledChanged();
}

void HistoryStore::add(const QString& text) {
  if (!enabled_ || text.isEmpty()) return;
  entries_.prepend(HistoryEntry{QUuid::createUuid(), text, now_()});
  Q_EMIT entriesChanged();
  if (entries_.size() > kLimit) {
    entries_.resize(kLimit);
    Q_EMIT entriesChanged();
  }
  save();
}

void HistoryStore::remove(const QUuid& id) {
  entries_.removeIf([&id](const HistoryEntry& e) { return e.id == id; });
  Q_EMIT entriesChanged();
  save();
}

void HistoryStore::clear() {
  entries_.clear();
  Q_EMIT entriesChanged();
  save();
}

void HistoryStore::save() {
  QList<QByteArray> records;
  records.reserve(entries_.size());
  for (const HistoryEntry& e : entries_) {
    records.append(stored::ObjectWriter()
                       .add("id", stored::uuidText(e.id))
                       .add("text", e.text)
                       .add("timestamp", stored::referenceSeconds(e.timestamp))
                       .text());
  }
  defaults_.setValue(QLatin1String(kEntriesKey), stored::arrayText(records));
}

}  // namespace murel
