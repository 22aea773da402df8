#include "text/ModeStore.h"

#include "runtime/SystemLog.h"
#include "runtime/UnicodeText.h"
#include "runtime/UserDefaults.h"
#include "text/StoredRecords.h"

namespace murel {
namespace {

const Logger kLog("modes");

QString hotkeyText(const std::optional<KeyCombo>& hotkey) {
  const QString raw = hotkey->rawValue();
  return raw.isEmpty() ? QStringLiteral("{}") : raw;
}

}  // namespace

Mode Mode::makeDefault() {
  return Mode{QUuid::createUuid(), QStringLiteral("Default"), Transformation::raw(), std::nullopt, true};
}

QByteArray Mode::toJsonText() const {
  stored::ObjectWriter w;
  w.add("id", stored::uuidText(id)).add("name", name).addRaw("transformation", transformation.toJsonText());
  // The key model's record form; its members come out in its fixed order (keyCode, modifiers).
  if (hotkey) w.add("hotkey", hotkey->toRecord());
  w.add("isDefault", isDefault);
  return w.text();
}

std::optional<Mode> Mode::fromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const std::optional<QUuid> id = stored::uuidFrom(o.value(QLatin1String("id")));
  const std::optional<QString> name = stored::stringMember(o, "name");
  const std::optional<Transformation> transformation =
      Transformation::fromJson(o.value(QLatin1String("transformation")));
  const std::optional<bool> isDefault = stored::boolMember(o, "isDefault");
  if (!id || !name || !transformation || !isDefault) return std::nullopt;
  std::optional<KeyCombo> hotkey;
  const QJsonValue h = o.value(QLatin1String("hotkey"));
  if (!h.isUndefined() && !h.isNull()) {
    if (!h.isObject()) return std::nullopt;
    hotkey = KeyCombo::fromRecord(h.toObject());
    if (!hotkey) return std::nullopt;
  }
  return Mode{*id, *name, *transformation, hotkey, *isDefault};
}

bool operator==(const Mode& a, const Mode& b) {
  if (a.id != b.id) return false;
  if (!canonicallyEqual(a.name, b.name)) return false;
  if (!(a.transformation == b.transformation)) return false;
  if (a.hotkey.has_value() != b.hotkey.has_value()) return false;
  if (a.hotkey && hotkeyText(a.hotkey) != hotkeyText(b.hotkey)) return false;
  return a.isDefault == b.isDefault;
}

ModeStore::ModeStore(UserDefaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {
  modes_ = stored::decodeLenientList<Mode>(defaults_, QLatin1String(kKey), &Mode::fromJson);
  if (!modes_.isEmpty()) return;

  // Whatever could not be read was kept aside by the lenient read.
  const std::optional<QJsonArray> stored = stored::storedArray(defaults_, QLatin1String(kKey));
  const bool nothingToLose = !defaults_.contains(QLatin1String(kKey)) || (stored && stored->isEmpty());
  if (!nothingToLose) kLog.error(QStringLiteral("stored modes could not be read; started with a default mode"));
  modes_ = {Mode::makeDefault()};
  save();
}

void ModeStore::setModes(QList<Mode> modes) {
  if (modes == modes_) {
    modes_ = std::move(modes);
    return;
  }
  modes_ = std::move(modes);
  Q_EMIT modesChanged();
}

Mode ModeStore::defaultMode() const {
  for (const Mode& m : modes_) {
    if (m.isDefault) return m;
  }
  if (!modes_.isEmpty()) return modes_.first();
  return Mode::makeDefault();
}

void ModeStore::markDefault(const QUuid& id) {
  for (Mode& m : modes_) {
    m.isDefault = m.id == id;
    Q_EMIT modesChanged();
  }
}

void ModeStore::add(const Mode& mode) {
  modes_.append(mode);
  Q_EMIT modesChanged();
  if (mode.isDefault) markDefault(mode.id);
  save();
}

void ModeStore::update(const Mode& mode) {
  for (Mode& m : modes_) {
    if (m.id != mode.id) continue;
    m = mode;
    Q_EMIT modesChanged();
    if (mode.isDefault) markDefault(mode.id);
    save();
    return;
  }
}

void ModeStore::remove(const QUuid& id) {
  if (modes_.size() <= 1) return;
  for (qsizetype i = 0; i < modes_.size(); ++i) {
    if (modes_[i].id != id) continue;
    const bool wasDefault = modes_[i].isDefault;
    modes_.removeAt(i);
    Q_EMIT modesChanged();
    const bool anyFlagged = std::any_of(modes_.cbegin(), modes_.cend(), [](const Mode& m) { return m.isDefault; });
    if (wasDefault && !anyFlagged) {
      modes_.first().isDefault = true;
      Q_EMIT modesChanged();
    }
    save();
    return;
  }
}

void ModeStore::setDefault(const QUuid& id) {
  const bool known = std::any_of(modes_.cbegin(), modes_.cend(), [&id](const Mode& m) { return m.id == id; });
  if (!known) return;
  markDefault(id);
  save();
}

void ModeStore::save() {
  QList<QByteArray> records;
  records.reserve(modes_.size());
  for (const Mode& m : modes_) records.append(m.toJsonText());
  defaults_.setValue(QLatin1String(kKey), stored::arrayText(records));
}

}  // namespace murel
