// Key-combination text and records: whatever reads must write back to a form
// that reads as the same combination.
#include "keys/KeyCombo.h"

#include "FuzzSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace murel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::workDir();
  const QByteArray input = fuzz::bytes(data, size);
  const QString text = QString::fromUtf8(input);

  if (const std::optional<KeyCombo> combo = KeyCombo::fromRawValue(text)) {
    const QString written = combo->rawValue();
    const std::optional<KeyCombo> back = KeyCombo::fromRawValue(written);
    fuzz::check(back && *back == *combo, "text form round trip", text + QStringLiteral(" -> ") + written);
    fuzz::check(back->rawValue() == written, "text form is stable", written);
    (void)combo->displayString();
    const std::optional<KeyCombo> fromRecord = KeyCombo::fromRecord(combo->toRecord());
    fuzz::check(fromRecord && *fromRecord == *combo, "record form of a text form", written);
  }

  const QJsonDocument doc = QJsonDocument::fromJson(input);
  if (doc.isObject()) {
    QString error;
    if (const std::optional<KeyCombo> combo = KeyCombo::fromRecord(doc.object(), &error)) {
      const QJsonObject record = combo->toRecord();
      const std::optional<KeyCombo> back = KeyCombo::fromRecord(record);
      fuzz::check(back && *back == *combo, "record round trip",
                  QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)));
      (void)combo->displayString();
    } else {
      fuzz::check(!error.isEmpty(), "a refused record says why", text);
    }
  }
  return 0;
}
