#include "text/Transformation.h"

#include "runtime/UnicodeText.h"
#include "text/StoredRecords.h"

#include <QJsonObject>

namespace murel {

namespace transform_preset {

const QList<TransformPreset>& allCases() {
  static const QList<TransformPreset> cases = {TransformPreset::tidy, TransformPreset::email};
  return cases;
}

QString rawValue(TransformPreset preset) {
  return preset == TransformPreset::tidy ? QStringLiteral("tidy") : QStringLiteral("email");
}

std::optional<TransformPreset> fromRawValue(const QString& raw) {
  if (raw == QLatin1String("tidy")) return TransformPreset::tidy;
  if (raw == QLatin1String("email")) return TransformPreset::email;
  return std::nullopt;
}

QString displayName(TransformPreset preset) {
  if (preset == TransformPreset::tidy) {
    //% "Tidy"
    //: Name of the Tidy transformation preset.
    return qtTrId("transform.tidy.name");
  }
  //% "Email"
  //: Name of the Email transformation preset.
  return qtTrId("transform.email.name");
}

const QString& instructions(TransformPreset preset) {
  static const QString tidy = QStringLiteral(
      "You are a transcription cleaner and formatter. Output the speaker's words verbatim except for fixing "
      "spelling, grammar, punctuation, and capitalization, and removing fillers and disfluencies (such as um, uh, "
      "like, you know, I mean) and duplicated words. When the speaker corrects themselves, keep only the corrected "
      "version. Do not reword, rephrase, summarize, reorder, or drop anything, and keep the speaker's point of "
      "view, their request or question phrasing, and every point they make. Formatting is the one exception: when "
      "the speaker clearly lists several items, present those items as a bulleted list (one item per line), "
      "keeping each item's exact words. Return only the cleaned text.");
  static const QString email = QStringLiteral(
      "You are a transcription cleaner and email formatter. Fix spelling, grammar, punctuation, and "
      "capitalization; remove fillers and disfluencies (such as um, uh, like, you know, I mean) and duplicated "
      "words; and when the speaker corrects themselves, keep only the corrected version. Keep the speaker's words, "
      "meaning, point of view, and tone \u2014 do not summarize, embellish, or invent anything. Shape the result "
      "into an email: put the greeting and the sign-off on their own lines, and break the body into short "
      "paragraphs where the speaker shifts topic. Only include a greeting or sign-off the speaker actually "
      "dictates; never invent a recipient name, your own name, or a placeholder. When the speaker clearly lists "
      "several items, present those items as a bulleted list, one item per line, keeping each item's exact words. "
      "Return only the email text.");
  return preset == TransformPreset::tidy ? tidy : email;
}

}  // namespace transform_preset

QString Transformation::displayName() const {
  switch (kind_) {
    case Kind::preset: return transform_preset::displayName(preset_);
    case Kind::custom:
      //% "Custom"
      //: Name of the Custom transformation option.
      return qtTrId("transform.custom.name");
    case Kind::raw: break;
  }
  //% "Raw"
  //: Name of the Raw (no transformation) option.
  return qtTrId("transform.raw.name");
}

QByteArray Transformation::toJsonText() const {
  stored::ObjectWriter w;
  switch (kind_) {
    case Kind::raw: w.add("kind", QStringLiteral("raw")); break;
    case Kind::preset: w.add("kind", QStringLiteral("preset")).add("value", transform_preset::rawValue(preset_)); break;
    case Kind::custom: w.add("kind", QStringLiteral("custom")).add("value", custom_); break;
  }
  return w.text();
}

std::optional<Transformation> Transformation::fromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const std::optional<QString> kind = stored::stringMember(o, "kind");
  if (!kind) return std::nullopt;
  if (*kind == QLatin1String("raw")) return raw();
  if (*kind == QLatin1String("preset")) {
    const std::optional<QString> v = stored::stringMember(o, "value");
    if (!v) return std::nullopt;
    const std::optional<TransformPreset> p = transform_preset::fromRawValue(*v);
    if (!p) return std::nullopt;
    return preset(*p);
  }
  if (*kind == QLatin1String("custom")) {
    const std::optional<QString> v = stored::stringMember(o, "value");
    if (!v) return std::nullopt;
    return custom(*v);
  }
  return std::nullopt;
}

bool operator==(const Transformation& a, const Transformation& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Transformation::Kind::raw: return true;
    case Transformation::Kind::preset: return a.preset_ == b.preset_;
    case Transformation::Kind::custom: return canonicallyEqual(a.custom_, b.custom_);
  }
  return false;
}

}  // namespace murel
