#pragma once

#include "runtime/Cancellation.h"
#include "text/DictionaryStore.h"
#include "text/Transformation.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <functional>

namespace murel {

// Turns a recognised transcript into the text to deliver: trim, dictionary rules
// (whole word, ignoring case), then the transformation's rewrite. A plain value
// that knows neither the dictionary store nor the language model, only the two
// functions it is given.
class TranscriptProcessor {
 public:
  // Rewrites `text` with the language model under `instructions`; may throw.
  using EnhanceFunction = std::function<QCoro::Task<QString>(QString text, QString instructions)>;
  using DictionaryFunction = std::function<QList<DictionaryEntry>()>;

  TranscriptProcessor(EnhanceFunction enhance, DictionaryFunction dictionaryEntries)
      : enhance_(std::move(enhance)), dictionaryEntries_(std::move(dictionaryEntries)) {}

  // Throws what the enhance function throws, and OperationCancelled when `token`
  // was cancelled while the language model ran.
  QCoro::Task<QString> process(QString text, Transformation transformation,
                               CancellationToken token = CancellationToken()) const;

  // Applies the rules in list order, each to the output of the ones before.
  static QString applyDictionary(const QString& text, const QList<DictionaryEntry>& rules);

  // The enhance function the application wires in: asks `isModelInstalled` first
  // and passes the text through unchanged, without touching the model, when the
  // language model is not installed.
  static EnhanceFunction enhanceWhenModelInstalled(std::function<bool()> isModelInstalled, EnhanceFunction enhance);

 private:
  EnhanceFunction enhance_;
  DictionaryFunction dictionaryEntries_;
};

}  // namespace murel
