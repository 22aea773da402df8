#pragma once

#include "speech/SpeechModel.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <optional>

namespace murel {

class Workspace;

// One credited project or model.
struct Acknowledgement {
  QString name;
  QString detail;  // already in the user's language
  QString license;
  std::optional<QUrl> url;
};

// The runtime entries, then the first attribution of each model name (compared
// exactly) in the given order, then the language model.
QList<Acknowledgement> acknowledgementEntriesFrom(const QList<ModelAttribution>& attributions);
// The list shown: built from the speech-model catalogue on first use, then kept
// for the process (a later language change does not re-resolve it).
const QList<Acknowledgement>& acknowledgementEntries();

// The credits: one numbered row per entry with its licence as a pill; a row
// with an address opens it in the browser, a row without takes no click.
class AcknowledgementsList : public QWidget {
  Q_OBJECT

 public:
  explicit AcknowledgementsList(Workspace& workspace, QWidget* parent = nullptr);
  AcknowledgementsList(Workspace& workspace, const QList<Acknowledgement>& entries, QWidget* parent = nullptr);
};

}  // namespace murel
