#include "text/VoiceEditPrompt.h"

namespace murel {

QString voiceEditSystemPrompt(const std::optional<QString>& selection) {
  if (!selection || selection->isEmpty()) {
    return QStringLiteral(
        "You are a writing engine. The user speaks a request; write the text they asked for, ready to insert into a "
        "document.\n"
        "Output only that text \u2014 no explanations, no quotes, no markdown fences.");
  }
  return QStringLiteral(
             "You are a text editing engine. The user speaks an instruction; apply it to the text below and output the "
             "complete edited text.\n"
             "Output only the edited text \u2014 no explanations, no quotes, no markdown fences.\n"
             "Keep the text's language unless the instruction says otherwise.\n"
             "\n"
             "Text:\n") +
         *selection;
}

}  // namespace murel
