#include "settings/AcknowledgementsList.h"

#include "app/FilePanels.h"
#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"

#include <QVBoxLayout>

namespace murel {

QList<Acknowledgement> acknowledgementEntriesFrom(const QList<ModelAttribution>& attributions) {
  QList<Acknowledgement> entries;
  //% "On-device LLM runtime by Google, used for text enhancement."
  //: Acknowledgement line for the LiteRT-LM runtime.
  entries.append({QStringLiteral("LiteRT-LM"), qtTrId("settings.acknowledgements.litert.detail"),
                  QStringLiteral("Apache 2.0"), QUrl(QStringLiteral("https://github.com/google-ai-edge/LiteRT-LM"))});
  //% "Whisper inference engine (including ggml) by the ggml authors."
  //: Acknowledgement line for the whisper.cpp library.
  entries.append({QStringLiteral("whisper.cpp"), qtTrId("settings.acknowledgements.whisperCpp.detail"),
                  QStringLiteral("MIT"), QUrl(QStringLiteral("https://github.com/ggml-org/whisper.cpp"))});
  //% "Runs Qwen3-ASR on the CPU via ggml."
  //: Acknowledgement line for the llama.cpp library.
  entries.append({QStringLiteral("llama.cpp"), qtTrId("settings.acknowledgements.llamacpp.detail"),
                  QStringLiteral("MIT"), QUrl(QStringLiteral("https://github.com/ggml-org/llama.cpp"))});
  QStringList seen;
  for (const ModelAttribution& attribution : attributions) {
    if (seen.contains(attribution.name)) continue;
    seen.append(attribution.name);
    entries.append({attribution.name, attribution.detail.text(), attribution.license, attribution.url});
  }
  //% "Text-enhancement model by Google. Gemma is provided under and subject to the Gemma Terms of Use."
  //: Acknowledgement line for the Gemma language model.
  entries.append({QStringLiteral("Gemma"), qtTrId("settings.acknowledgements.gemma.detail"),
                  QStringLiteral("Gemma Terms"), QUrl(QStringLiteral("https://ai.google.dev/gemma/terms"))});
  return entries;
}

const QList<Acknowledgement>& acknowledgementEntries() {
  static const QList<Acknowledgement> entries = [] {
    QList<ModelAttribution> attributions;
    for (const SpeechModelDescriptor& model : SpeechModelDescriptor::catalog()) attributions.append(model.attribution);
    return acknowledgementEntriesFrom(attributions);
  }();
  return entries;
}

AcknowledgementsList::AcknowledgementsList(Workspace& workspace, QWidget* parent)
    : AcknowledgementsList(workspace, acknowledgementEntries(), parent) {}

AcknowledgementsList::AcknowledgementsList(Workspace& workspace, const QList<Acknowledgement>& entries, QWidget* parent)
    : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  int index = 0;
  for (const Acknowledgement& entry : entries) {
    std::function<void()> onTap;
    if (entry.url) onTap = [&workspace, url = *entry.url] { workspace.openURL(url); };
    auto* pill = new EditorialStatusPill(entry.license, EditorialStatusPill::Leading::none, DSColor::inkSecondary);
    auto* row = new SettingsChapterRow(++index, entry.name, entry.detail, false, std::move(onTap), pill, this);
    row->setObjectName(entry.name);
    column->addWidget(row);
  }
}

}  // namespace murel
