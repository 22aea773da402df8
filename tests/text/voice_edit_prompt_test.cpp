#include "text/VoiceEditPrompt.h"

#include <QStringList>

#include <gtest/gtest.h>

using murel::voiceEditSystemPrompt;

namespace {

const QString kWriting = QStringLiteral(
    "You are a writing engine. The user speaks a request; write the text they asked for, ready to insert into a "
    "document.\nOutput only that text \u2014 no explanations, no quotes, no markdown fences.");

const QString kEditing = QStringLiteral(
    "You are a text editing engine. The user speaks an instruction; apply it to the text below and output the complete "
    "edited text.\nOutput only the edited text \u2014 no explanations, no quotes, no markdown fences.\nKeep the text's "
    "language unless the instruction says otherwise.\n\nText:\n");

TEST(VoiceEditPromptTest, WritingWithoutASelectionEditingWithOne) {
  struct Case {
    std::optional<QString> selection;
    QString prompt;
  };
  const Case cases[] = {
      {std::nullopt, kWriting},
      {QString(), kWriting},
      {QStringLiteral("Hello"), kEditing + QStringLiteral("Hello")},
      {QStringLiteral("line one\nline two\n"), kEditing + QStringLiteral("line one\nline two\n")},
      {QStringLiteral("  "), kEditing + QStringLiteral("  ")},
  };
  for (const Case& c : cases) EXPECT_EQ(voiceEditSystemPrompt(c.selection), c.prompt) << c.prompt.toStdString();
  EXPECT_TRUE(kWriting.endsWith(QStringLiteral("fences.")));
  EXPECT_EQ(voiceEditSystemPrompt(QStringLiteral("Hello")).split(u'\n').mid(4),
            (QStringList{QStringLiteral("Text:"), QStringLiteral("Hello")}));
}

}  // namespace
