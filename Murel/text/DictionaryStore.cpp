#include "text/DictionaryStore.h"

#include "runtime/UserDefaults.h"
#include "text/StoredRecords.h"

namespace murel {
namespace {

std::optional<DictionaryEntry> decodeEntry(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const std::optional<QUuid> id = stored::uuidFrom(o.value(QLatin1String("id")));
  const std::optional<QString> original = stored::stringMember(o, "original");
  const std::optional<QString> replacement = stored::stringMember(o, "replacement");
  if (!id || !original || !replacement) return std::nullopt;
  return DictionaryEntry{*id, *original, *replacement};
}

}  // namespace

DictionaryStore::DictionaryStore(UserDefaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {
  entries_ = stored::decodeLenientList<DictionaryEntry>(defaults_, QLatin1String(kKey), decodeEntry);
}

void DictionaryStore::setEntries(QList<DictionaryEntry> entries) {
  entries_ = std::move(entries);
  Q_EMIT entriesChanged();
  save();
}

void DictionaryStore::save() {
  QList<QByteArray> records;
  records.reserve(entries_.size());
  for (const DictionaryEntry& e : entries_) {
    records.append(stored::ObjectWriter()
                       .add("id", stored::uuidText(e.id))
                       .add("original", e.original)
                       .add("replacement", e.replacement)
                       .text());
  }
  defaults_.setValue(QLatin1String(kKey), stored::arrayText(records));
}

}  // namespace murel
