#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace murel {

// A built-in rewrite with fixed instructions.
enum class TransformPreset { tidy, email };

namespace transform_preset {
const QList<TransformPreset>& allCases();
// "tidy", "email": the stored form.
QString rawValue(TransformPreset preset);
std::optional<TransformPreset> fromRawValue(const QString& raw);
QString displayName(TransformPreset preset);
// The whole system instruction the language model gets for the preset.
const QString& instructions(TransformPreset preset);
}  // namespace transform_preset

// What the language model does to a dictated text after the dictionary rules.
class Transformation {
 public:
  enum class Kind { raw, preset, custom };

  Transformation() = default;  // raw
  static Transformation raw() { return {}; }
  static Transformation preset(TransformPreset preset) { return Transformation(Kind::preset, preset, {}); }
  static Transformation custom(QString instructions) {
    return Transformation(Kind::custom, TransformPreset::tidy, std::move(instructions));
  }

  Kind kind() const { return kind_; }
  bool isRaw() const { return kind_ == Kind::raw; }
  // Meaningful for preset transformations only.
  TransformPreset presetValue() const { return preset_; }
  // The user's instructions, exactly as written; meaningful for custom only.
  const QString& customText() const { return custom_; }

  QString displayName() const;

  // {"kind":"raw"}, {"kind":"preset","value":"tidy"}, {"kind":"custom","value":"…"}.
  QByteArray toJsonText() const;
  static std::optional<Transformation> fromJson(const QJsonValue& value);

  // Custom texts compare under canonical equivalence.
  friend bool operator==(const Transformation& a, const Transformation& b);

 private:
  Transformation(Kind kind, TransformPreset preset, QString custom)
      : kind_(kind), preset_(preset), custom_(std::move(custom)) {}

  Kind kind_ = Kind::raw;
  TransformPreset preset_ = TransformPreset::tidy;
  QString custom_;
};

}  // namespace murel
