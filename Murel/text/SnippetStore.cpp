#include "text/SnippetStore.h"

#include "runtime/UserDefaults.h"
#include "text/StoredRecords.h"

namespace murel {
namespace {

std::optional<SnippetEntry> decodeEntry(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const std::optional<QUuid> id = stored::uuidFrom(o.value(QLatin1String("id")));
  const std::optional<QString> trigger = stored::stringMember(o, "trigger");
  const std::optional<QString> expansion = stored::stringMember(o, "expansion");
  if (!id || !trigger || !expansion) return std::nullopt;
  return SnippetEntry{*id, *trigger, *expansion};
}

}  // namespace

SnippetStore::SnippetStore(UserDefaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {
  entries_ = stored::decodeLenientList<SnippetEntry>(defaults_, QLatin1String(kKey), decodeEntry);
}

void SnippetStore::setEntries(QList<SnippetEntry> entries) {
  entries_ = std::move(entries);
  Q_EMIT entriesChanged();
  save();
}

void SnippetStore::save() {
  QList<QByteArray> records;
  records.reserve(entries_.size());
  for (const SnippetEntry& e : entries_) {
    records.append(stored::ObjectWriter()
                       .add("id", stored::uuidText(e.id))
                       .add("trigger", e.trigger)
                       .add("expansion", e.expansion)
                       .text());
  }
  defaults_.setValue(QLatin1String(kKey), stored::arrayText(records));
}

}  // namespace murel
